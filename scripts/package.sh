#!/usr/bin/env bash
# Builds the Debian packages tessel and postgresql-15-tessel (CPack, in build-pkg/) and prints
# the paths of the .deb files, one a line. Install them with dpkg -i as root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
# Debian's build flags (hardening included), for a release build stripped by CPack.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTESSEL_PACKAGING=ON -DTESSEL_SANITIZE=OFF -DTESSEL_TSAN=OFF >/dev/null
targets=(tessel tessel_runtime tessel_sqlite qaptrace qapcatalog tessel_deb_changelog)
if grep -q '^TESSEL_PG_CONFIG:.*pg_config$' build-pkg/CMakeCache.txt; then
    targets+=(tessel_pg tessel_pg_files)
fi
cmake --build build-pkg -j"$(nproc)" --target "${targets[@]}" >&2
rm -f build-pkg/*.deb
(cd build-pkg && cpack -G DEB >&2)
ls -1 "$PWD"/build-pkg/*.deb
