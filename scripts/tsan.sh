#!/usr/bin/env bash
# Builds the library, the host runtime and the SQLite extension with ThreadSanitizer
# (build-tsan/) and runs the threads test: SQLite connections on several threads running every
# family's routines at once. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSEL_TSAN=ON >/dev/null
cmake --build build-tsan --target test_threads -j"$(nproc)"
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
    ctest --output-on-failure -R '^test_threads$')
