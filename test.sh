#!/usr/bin/env bash
# Builds PellanDecoder and runs its whole test suite through CTest: the normal build (with the
# Windows plug-in hosts, and the Wine tests in a private Wine prefix), then the core again under
# ThreadSanitizer, then with clang under AddressSanitizer together with short fuzzing runs.
# Installs missing Debian packages first, Wine included.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The threads, the plug-in host and the decoding engine once more under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLAN_SANITIZER=thread \
  -DPELLAN_BUILD_GUI=OFF -DPELLAN_BUILD_PLUGINS=OFF -DPELLAN_BUILD_BENCHMARKS=OFF \
  -DPELLAN_BUILD_WINDOWS_HOSTS=OFF
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1" ctest --test-dir build-tsan --output-on-failure -j "$jobs"

# The core once more with clang under AddressSanitizer, and the playlist reader and the host
# reply reader fuzzed for a bounded number of runs from their committed seeds.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELLAN_SANITIZER=address -DPELLAN_BUILD_FUZZERS=ON \
  -DPELLAN_BUILD_GUI=OFF -DPELLAN_BUILD_PLUGINS=OFF -DPELLAN_BUILD_BENCHMARKS=OFF \
  -DPELLAN_BUILD_WINDOWS_HOSTS=OFF
cmake --build build-fuzz -j "$jobs"
ASAN_OPTIONS="halt_on_error=1" ctest --test-dir build-fuzz --output-on-failure -j "$jobs"
