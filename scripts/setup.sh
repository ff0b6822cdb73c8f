#!/usr/bin/env bash
# Installs the Debian packages Tessel needs, when missing. Idempotent; needs root to install.
set -euo pipefail
packages=(build-essential file cmake libxerces-c-dev libicu-dev libgtest-dev libsqlite3-dev sqlite3 pkg-config python3
          postgresql-15 postgresql-server-dev-15 clang-format python3-clang-14)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: run as root to install: ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
