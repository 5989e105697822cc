#!/usr/bin/env bash
# The plug-in interface headers (with the optional entries' header, which includes the
# interface) are plain C for plug-in authors, 32-bit records included. (The
# Windows branches of the core are compiled and linked by the Windows builds themselves.)
set -euo pipefail
source_dir="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$source_dir"
printf '#include "kpi/KpiExtension.h"\nint main(void) { return (int)sizeof(KpiModule); }\n' > "$work/header.c"
i686-w64-mingw32-gcc -std=c11 -Wall -Werror -I. -c "$work/header.c" -o "$work/header.o"
echo "plug-in header: compiles as C for 32-bit Windows"
