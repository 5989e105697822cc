#!/usr/bin/env bash
# Cross-builds PellanDecoder for 32 and 64-bit Windows with MinGW-w64, statically linked: the
# window program PellanDecode.exe, pellan-decode.exe and the plug-in hosts (--release, the
# default), or with --tests also the Windows test plug-ins and the tests of the Windows build.
# With --zip it also makes a zip of each build (cpack -G ZIP) in build-windows-<arch>/: the
# programs, README.txt, LICENSE.txt and THIRD-PARTY-NOTICES.txt.
# Usage: scripts/build-windows.sh [--release|--tests] [--zip] [i686|x86_64 ...]
set -euo pipefail
cd "$(dirname "$0")/.."
zip=0
tests=OFF
arches=()
for argument in "$@"; do
  case "$argument" in
  --zip) zip=1 ;;
  --release) tests=OFF ;;
  --tests) tests=ON ;;
  i686 | x86_64) arches+=("$argument") ;;
  *)
    echo "usage: $0 [--release|--tests] [--zip] [i686|x86_64 ...]" >&2
    exit 2
    ;;
  esac
done
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)
# i686 first: the 64-bit build takes its 32-bit host.
if [[ " ${arches[*]} " == *" i686 "* ]] && [[ " ${arches[*]} " == *" x86_64 "* ]]; then
  arches=(i686 x86_64)
fi
jobs=$(nproc)

configure() { # arch, extra arguments
  local arch="$1"
  shift
  cmake -S . -B "build-windows-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-w64-$arch.cmake" \
    -DPELLAN_BUILD_TESTS="$tests" -DPELLAN_BUILD_TEST_PLUGINS="$tests" "$@"
}

# The window program's splash bitmap and icon are drawn by a small Qt program of the native
# build; without Qt the Windows builds have no window program.
pictures="$PWD/build-windows-pictures/ui/pictures"
if cmake -S . -B build-windows-pictures -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPELLAN_BUILD_TESTS=OFF -DPELLAN_BUILD_PLUGINS=OFF -DPELLAN_BUILD_BENCHMARKS=OFF \
  -DPELLAN_BUILD_WINDOWS_HOSTS=OFF >/dev/null &&
  cmake --build build-windows-pictures -j "$jobs" --target pellan_windows_pictures; then
  window=(-DPELLAN_WINDOWS_PICTURES="$pictures")
else
  echo "warning: the pictures could not be drawn (Qt 6 missing?); PellanDecode.exe is left out" >&2
  window=()
fi

# The 64-bit build ships the 32-bit host, for 32-bit plug-ins: the 32-bit build comes first, or
# just its host when only the 64-bit build is asked for.
host32="$PWD/build-windows-i686/bin/pellan-kpi-host32.exe"
if [[ " ${arches[*]} " == *" x86_64 "* ]] && [[ " ${arches[*]} " != *" i686 "* ]]; then
  configure i686
  cmake --build build-windows-i686 -j "$jobs" --target pellan-kpi-host
fi
for arch in "${arches[@]}"; do
  build="build-windows-$arch"
  if [ "$arch" = x86_64 ]; then
    configure "$arch" -DPELLAN_WINDOWS_HOST32="$host32" "${window[@]}"
  else
    configure "$arch" "${window[@]}"
  fi
  cmake --build "$build" -j "$jobs"
  if [ "$zip" = 1 ]; then
    (cd "$build" && cpack -G ZIP)
  fi
done
