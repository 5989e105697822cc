#!/usr/bin/env bash
# Cross-builds PellanDecoder for 32 and 64-bit Windows with MinGW-w64: the core libraries,
# pellan-decode.exe, the plug-in hosts, the Windows test plug-ins and the tests of the Windows
# build, statically linked. With --zip it also makes a zip of each build (cpack -G ZIP) in
# build-windows-<arch>/. Usage: scripts/build-windows.sh [--zip] [i686|x86_64 ...]
set -euo pipefail
cd "$(dirname "$0")/.."
zip=0
arches=()
for argument in "$@"; do
  case "$argument" in
  --zip) zip=1 ;;
  i686 | x86_64) arches+=("$argument") ;;
  *)
    echo "usage: $0 [--zip] [i686|x86_64 ...]" >&2
    exit 2
    ;;
  esac
done
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)
jobs=$(nproc)

for arch in "${arches[@]}"; do
  build="build-windows-$arch"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-w64-$arch.cmake"
  cmake --build "$build" -j "$jobs"
  if [ "$zip" = 1 ]; then
    (cd "$build" && cpack -G ZIP)
  fi
done
