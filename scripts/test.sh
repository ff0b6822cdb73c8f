#!/usr/bin/env bash
# Sets up, checks the include floors and the formatting, builds and runs the whole test suite
# twice: plainly (build/, whose declared names are then checked) and under AddressSanitizer +
# UndefinedBehaviorSanitizer with leak detection (build-asan/); then the threads test under
# ThreadSanitizer (build-tsan/, scripts/tsan.sh), the PostgreSQL extension's regression tests
# against the plain build (scripts/pgtest.sh), the same build over a coordinator and two shard
# servers (scripts/cluster-demo.sh --check), and the Debian packages built, installed, tried and
# purged (scripts/package-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Include arrows against the floors of docs/architecture.md's Layout: none up, no cycle.
python3 scripts/check-floors.py
# Every tracked C/C++ file as clang-format leaves it.
git ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run --Werror
jobs=$(nproc)
run() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs")
}
run build -DTESSEL_SANITIZE=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
# Declared names against the naming rule (docs/architecture.md, Naming), on the plain build's compile commands.
python3 scripts/check-names.py build
ASAN_OPTIONS=detect_leaks=1 run build-asan -DTESSEL_SANITIZE=ON
bash scripts/tsan.sh
bash scripts/pgtest.sh build
bash scripts/cluster-demo.sh --check build
bash scripts/package-test.sh
