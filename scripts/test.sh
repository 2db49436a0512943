#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh             normal build (g++) in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UBSan build (clang) in build-asan/,
#                               with the libFuzzer targets built and smoke-run;
#                               every test but the end-to-end runs
#   scripts/test.sh --release   Release build (g++, -O3) in build-release/ of the
#                               programs, libraries and benchmarks, to keep every
#                               build type warning-free; builds and runs only the
#                               engine's and the platform's tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh

jobs=$(nproc)
skip_labels=
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DTAVREL_SANITIZE=ON -DTAVREL_FUZZ=ON -DTAVREL_BENCH=OFF >/dev/null
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # The end-to-end runs wait on the agent's minute timers; the normal build
    # runs them, this one spends its time on the instrumented unit tests.
    skip_labels=e2e
elif [ "${1:-}" = "--release" ]; then
    dir=build-release
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVREL_BENCH=ON >/dev/null
    # Programs, libraries and benchmarks; of the tests only the two run here.
    cmake --build "$dir" -j "$jobs" --target release_check
    cd "$dir"
    # The full suite already ran in the other builds; this one proves that the
    # optimised code behaves the same where the optimiser matters most.
    ctest --output-on-failure -j "$jobs" --timeout 600 -R '^(kes04_c_api_test|platform_test\.)'
    exit 0
else
    dir=build
    # The benchmarks are built by --release, where they are meant to run.
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVREL_BENCH="${TAVREL_BENCH:-OFF}" >/dev/null
fi
cmake --build "$dir" -j "$jobs"
cd "$dir"
ctest --output-on-failure -j "$jobs" --timeout 600 ${skip_labels:+-LE "$skip_labels"}
