#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh             normal build (g++) in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UBSan build (clang) in build-asan/,
#                               with the libFuzzer targets built and smoke-run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh

jobs=$(nproc)
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DTAVREL_SANITIZE=ON -DTAVREL_FUZZ=ON -DTAVREL_BENCH=OFF >/dev/null
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    dir=build
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$dir" -j "$jobs"
cd "$dir"
ctest --output-on-failure -j "$jobs" --timeout 600
