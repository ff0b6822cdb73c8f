#!/usr/bin/env bash
# The main job: sets the machine up, builds Tessel and its SQLite extension into build/, and
# runs the demo (examples/demo.sql) in the sqlite3 shell. The demo ends with one deliberate
# error (a path that matches twice); any other error, or none, fails this script.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tessel_sqlite

if [ ! -f build/libtessel_sqlite.so ]; then
    echo "demo: build/libtessel_sqlite.so was not built (are SQLite's development files installed?)" >&2
    exit 1
fi

# The routines read server files from examples/ and write them to build/demo-export/ only.
rm -rf build/demo-export
mkdir -p build/demo-export
export TARN_READ_ACCESS="$PWD/examples;$PWD/build/demo-export"
export TARN_WRITE_ACCESS="$PWD/build/demo-export"

echo
echo "== sqlite3 -cmd '.load build/libtessel_sqlite' < examples/demo.sql"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Line-buffered so that the deliberate error shows after the rows printed before it.
stdbuf -oL sqlite3 -batch -cmd '.load build/libtessel_sqlite' :memory: < examples/demo.sql \
    2>&1 | tee "$log" || true

errors=$(grep -cE '^(Runtime error|Parse error|Error)' "$log" || true)
if [ "$errors" -eq 1 ] && grep -q 'SQLSTATE 38X08: ' "$log"; then
    echo
    echo "demo: finished (the one error above is the expected one)"
else
    echo
    echo "demo: unexpected output (see above)" >&2
    exit 1
fi
