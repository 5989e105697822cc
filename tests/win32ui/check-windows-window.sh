#!/usr/bin/env bash
# Checks the window program for Windows as built, without running it: for each of the 32 and
# 64-bit builds, a PE image of its bitness, a GUI program, the resources it needs at run time
# (its icon, the splash picture, the manifest and the version), and nothing needed beside it but
# DLLs that come with Windows.
# Usage: check-windows-window.sh PELLANDECODE32_EXE PELLANDECODE64_EXE
set -euo pipefail
system_dlls="^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|ole32|OLEAUT32|UxTheme|VERSION|ADVAPI32|WINMM|msvcrt|OLEACC)\.dll$"
status=0
check() { # exe triplet format
  local exe="$1" objdump="$2-objdump" windres="$2-windres" format="$3" dump imports dll
  if [ ! -f "$exe" ]; then
    echo "$exe: missing"
    status=1
    return
  fi
  "$objdump" -f "$exe" | grep -q "file format $format\$" || { echo "$exe: not $format"; status=1; }
  dump=$("$objdump" -p "$exe")
  grep -q "(Windows GUI)" <<<"$dump" || { echo "$exe: not a GUI program"; status=1; }
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
  shopt -s nocasematch # Windows compares DLL names without regard to letter case
  for dll in $imports; do
    [[ "$dll" =~ $system_dlls ]] || { echo "$exe: needs $dll, which does not come with Windows"; status=1; }
  done
  shopt -u nocasematch
  # The resources the program loads by name or needs to start as meant.
  local resources
  resources=$("$windres" -i "$exe" -J coff -O rc)
  for wanted in '"MAINICON" 14' '"SPLASH" 2' '1 24' '1 VERSIONINFO'; do
    grep -q "^$wanted" <<<"$resources" || { echo "$exe: no resource $wanted"; status=1; }
  done
  echo "$exe: $format, imports $(echo $imports)"
}
check "$1" i686-w64-mingw32 pei-i386
check "$2" x86_64-w64-mingw32 pei-x86-64
exit $status
