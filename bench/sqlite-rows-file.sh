#!/usr/bin/env bash
# The row scan in SQLite over a large generated file (ROWS rows of four columns, default 10
# million: about 2 GB) and over a folder of FILES generated files (default 1000), each beside a
# bare parse of the same files: time, throughput and peak memory (build/bench/sqlite_rows_file).
# The files go to a private directory under TMPDIR (or /tmp), removed at the end whatever
# happens; the script checks first that the disk has room for them.
#   bash bench/sqlite-rows-file.sh [ROWS] [FILES] [ROWS_PER_FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-10000000}
files=${2:-1000}
perFile=${3:-2000}
bin=build/bench/sqlite_rows_file
[ -x "$bin" ] || { echo "build first: cmake --build build --target sqlite_rows_file" >&2; exit 1; }
base=${TMPDIR:-/tmp}
need=$(( (rows + files * perFile) * 230 / 1024 + 102400 ))
free=$(df -Pk "$base" | awk 'NR == 2 {print $4}')
if [ "$free" -lt "$need" ]; then
    echo "$base has $((free / 1024)) MB free; the files need about $((need / 1024)) MB" >&2
    exit 1
fi
dir=$(mktemp -d "$base/tessel-rows-file-XXXXXX")
trap 'rm -rf "$dir"' EXIT
echo "build: $(git describe --always --dirty 2>/dev/null || echo unknown)"
"$bin" --dir "$dir" --rows "$rows" --files "$files" --file-rows "$perFile"
