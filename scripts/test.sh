#!/usr/bin/env bash
# Sets up a fresh machine, builds (benchmarks too, warnings as errors), runs every test, runs
# them again under AddressSanitizer and UndefinedBehaviorSanitizer, then runs each libFuzzer
# target for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEXT_BUILD_BENCH=ON -DTEXT_WERROR=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTEXT_SANITIZE=ON -DTEXT_BUILD_BENCH=OFF
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j2

# The fuzz targets need clang, so they have their own build folder.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTEXT_FUZZ=ON -DTEXT_BUILD_TESTS=OFF -DTEXT_WERROR=ON -DTEXT_FUZZ_SECONDS=10
cmake --build build-fuzz -j2 --target fuzzers
ctest --test-dir build-fuzz --output-on-failure --no-tests=error -j2
