#!/usr/bin/env bash
# Builds PellanDecoder and runs its whole test suite through CTest: the normal build (with the
# Windows plug-in hosts, and the Wine tests in a private Wine prefix), then the core and the
# command line again under ThreadSanitizer, then with clang under AddressSanitizer together with
# short fuzzing runs. Installs missing Debian packages first, Wine included. At the end it says
# how long each step took.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)

steps=()
# timed NAME COMMAND...: runs the command and keeps how long it took.
timed() {
  local name="$1" started=$SECONDS
  shift
  "$@"
  steps+=("$(printf '%5d s  %s' $((SECONDS - started)) "$name")")
}
started=$SECONDS

timed "configure" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELLAN_WINDOWS_BUILD_JOBS="$jobs"
# The threads, the plug-in host, the decoding engine and the command line once more under
# ThreadSanitizer; the core with clang under AddressSanitizer, with the playlist reader and the
# host reply reader fuzzed for a bounded number of runs from their committed seeds.
timed "configure ThreadSanitizer" cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPELLAN_SANITIZER=thread \
  -DPELLAN_BUILD_GUI=OFF -DPELLAN_BUILD_PLUGINS=OFF -DPELLAN_BUILD_BENCHMARKS=OFF \
  -DPELLAN_BUILD_WINDOWS_HOSTS=OFF
timed "configure AddressSanitizer" env CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAN_SANITIZER=address -DPELLAN_BUILD_FUZZERS=ON \
  -DPELLAN_BUILD_GUI=OFF -DPELLAN_BUILD_PLUGINS=OFF -DPELLAN_BUILD_BENCHMARKS=OFF \
  -DPELLAN_BUILD_WINDOWS_HOSTS=OFF

# The sanitizer builds compile at the lowest priority beside the normal build and its tests,
# which spend most of their time waiting on Wine, child processes and timers: they take the
# processor time those leave, and the normal build and tests keep theirs. Their output goes to
# a log, shown if they fail.
set -m # their own process group, ended with this script if it stops early
nice -n 19 bash -c "cmake --build build-tsan -j $jobs && cmake --build build-fuzz -j $jobs" \
  > build/sanitizer-builds.log 2>&1 &
sanitizer_builds=$!
set +m
trap 'kill -- -$sanitizer_builds 2>/dev/null || true' EXIT

timed "build (with the Windows builds)" cmake --build build -j "$jobs"
# As many tests as processors at once; the ones that share a resource (the Wine prefix's
# registry, the window session) are kept apart by their locks. A Windows plug-in under Wine now
# and then fails to open its file, with no reason given, while other Wine tests run beside it
# (seen in about one run in six of the Wine tests alone, more often at two tests per
# processor; the cause is not found yet). Until it is, a failed test runs once more, and the
# first failure stays in the output above the second run's result.
timed "tests" ctest --test-dir build --output-on-failure -j "$jobs" --repeat until-pass:2

wait_for_sanitizer_builds() {
  if ! wait "$sanitizer_builds"; then
    cat build/sanitizer-builds.log
    echo "*** The sanitizer builds failed (build/sanitizer-builds.log)." >&2
    return 1
  fi
}
timed "sanitizer builds, the part left after the tests" wait_for_sanitizer_builds
timed "tests under ThreadSanitizer" env TSAN_OPTIONS="halt_on_error=1" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs"
timed "tests under AddressSanitizer, and fuzzing" env ASAN_OPTIONS="halt_on_error=1" \
  ctest --test-dir build-fuzz --output-on-failure -j "$jobs"

echo
echo "Time taken ($jobs processors):"
printf '%s\n' "${steps[@]}"
printf '%5d s  all\n' $((SECONDS - started))
