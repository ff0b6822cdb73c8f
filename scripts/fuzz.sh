#!/usr/bin/env bash
# Builds one libFuzzer target with clang (build-fuzz/, library under ASan + UBSan) and runs it
# in one process for a while, from its seeds. Crashes and slow inputs land in build-fuzz/findings/.
#   bash scripts/fuzz.sh fuzz_extract [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz.sh TARGET [SECONDS]}
seconds=${2:-300}
command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed (apt-get install clang)" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSEL_FUZZ=ON -DTESSEL_SANITIZE=ON >/dev/null
cmake --build build-fuzz --target "$target" -j"$(nproc)"
corpus=build-fuzz/corpus/$target
mkdir -p "$corpus" build-fuzz/findings
seeds=tests/fuzz/seeds/${target#fuzz_}
[ -d "$seeds" ] || seeds=
LC_ALL=C TZ=UTC ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/findings/"$target"- \
    "$corpus" $seeds
