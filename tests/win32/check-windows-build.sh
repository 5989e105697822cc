#!/usr/bin/env bash
# Cross-compiles and links the core library for 32 and 64-bit Windows.
set -euo pipefail
source_dir="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$source_dir"
sources=(platform/*.cpp kpi/*.cpp decoder/*.cpp playlist/*.cpp tests/win32/WindowsLinkCheck.cpp)
for compiler in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix; do
  "$compiler" -std=c++20 -Wall -Wextra -Werror -O1 -I. "${sources[@]}" -static -o "$work/check.exe"
  echo "$compiler: linked"
done
# The plug-in interface header is plain C for plug-in authors, 32-bit records included.
printf '#include "kpi/KpiInterface.h"\nint main(void) { return (int)sizeof(KpiModule); }\n' > "$work/header.c"
i686-w64-mingw32-gcc -std=c11 -Wall -Werror -I. -c "$work/header.c" -o "$work/header.o"
echo "plug-in header: compiles as C for 32-bit Windows"
