#!/usr/bin/env bash
# Cross-compiles the window program for 32 and 64-bit Windows, statically linked and with its
# resources (icon, splash bitmap, manifest, version), and checks the result without running it:
# a PE image of its bitness, a GUI program, and nothing needed beside it but DLLs that come
# with Windows.
# Usage: check-windows-window.sh SOURCE_DIR PICTURES_DIR VERSION
set -euo pipefail
source_dir="$1" pictures="$2" version="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$source_dir"
IFS=. read -r major minor patch tweak <<<"$version"
sed -e "s|@PELLAN_ICON_FILE@|$pictures/pellandecoder.ico|" \
    -e "s|@PELLAN_SPLASH_BITMAP@|$pictures/splash.bmp|" \
    -e "s|@PELLAN_MANIFEST_FILE@|$source_dir/ui/win32/PellanDecode.manifest|" \
    -e "s|@PROJECT_VERSION_MAJOR@|$major|g; s|@PROJECT_VERSION_MINOR@|$minor|g" \
    -e "s|@PROJECT_VERSION_PATCH@|$patch|g; s|@PROJECT_VERSION_TWEAK@|${tweak:-0}|g" \
    -e "s|@PROJECT_VERSION@|$version|g" ui/win32/PellanDecode.rc.in >"$work/PellanDecode.rc"
sources=(platform/*.cpp kpi/*.cpp decoder/*.cpp playlist/*.cpp app/*.cpp ui/win32/*.cpp
  tests/win32ui/LinkCheck.cpp)
system_dlls="^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|ole32|OLEAUT32|UxTheme|VERSION|ADVAPI32|WINMM|msvcrt)\.dll$"
status=0
for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  format=pei-x86-64
  [ "$triplet" = i686-w64-mingw32 ] && format=pei-i386
  exe="$work/PellanDecode-$triplet.exe"
  "$triplet-windres" "$work/PellanDecode.rc" -O coff -o "$work/resources-$triplet.o"
  "$triplet-g++-posix" -std=c++20 -Wall -Wextra -Werror -O1 -I. -DUNICODE -D_UNICODE \
    -D_WIN32_WINNT=0x0601 -DPELLAN_VERSION_TEXT="\"$version\"" \
    -DPELLAN_BUNDLED_PLUGIN_FOLDER='"plugins"' "${sources[@]}" "$work/resources-$triplet.o" \
    -municode -mwindows -static -lcomctl32 -lcomdlg32 -luxtheme -lole32 -lshell32 -lgdi32 \
    -lversion -lwinmm -o "$exe"
  header=$("$triplet-objdump" -f "$exe")
  dump=$("$triplet-objdump" -p "$exe")
  grep -q "file format $format\$" <<<"$header" || { echo "$exe: not $format"; status=1; }
  grep -q "(Windows GUI)" <<<"$dump" || { echo "$exe: not a GUI program"; status=1; }
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
  for dll in $imports; do
    # Windows compares DLL names without regard to letter case.
    shopt -s nocasematch
    [[ "$dll" =~ $system_dlls ]] || { echo "$exe: needs $dll, which does not come with Windows"; status=1; }
    shopt -u nocasematch
  done
  echo "PellanDecode.exe for $triplet: $format, imports $(echo $imports)"
done
exit $status
