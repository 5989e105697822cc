#!/usr/bin/env bash
# Checks the Windows builds without running them: each host and test plug-in is a PE image of
# its bitness, needs nothing beside itself but DLLs that come with Windows (everything else is
# linked in), and the plug-ins export their entries (the optional ones too) under their plain,
# undecorated names, as the host player's 32-bit __stdcall plug-ins do.
# pellan-decode.exe of each build likewise. Every 32-bit program (the host, and with BUILD_FOLDER
# the 32-bit build's programs) is marked large-address-aware, so that plug-ins that need more
# than 2 GB get it on 64-bit Windows and under Wine.
# Usage: check-windows-binaries.sh HOST_FOLDER TEST_PLUGIN_FOLDER [BUILD_FOLDER]
set -euo pipefail
hosts="$1" plugins="$2" builds="${3:-}"
system_dlls="^(KERNEL32|msvcrt|USER32|ADVAPI32|ntdll|WS2_32|SHELL32|ole32|VERSION)\.dll$"
status=0

check() { # file objdump format
  local file="$1" objdump="$2" format="$3"
  local dump
  dump=$("$objdump" -p "$file")
  if ! "$objdump" -f "$file" | grep -q "file format $format\$"; then
    echo "$file: not $format"; status=1
  fi
  while read -r dll; do
    if ! [[ "$dll" =~ $system_dlls ]]; then
      echo "$file: needs $dll, which does not come with Windows"; status=1
    fi
  done < <(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "$file: $format, imports $(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
}

large_address_aware() { # file
  local dump
  dump=$(i686-w64-mingw32-objdump -p "$1")
  if ! grep -q '^[[:space:]]*large address aware$' <<<"$dump"; then
    echo "$1: not marked large-address-aware"; status=1
  fi
}

exports() { # the names a DLL exports
  "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/{/Name Pointer/d;s/^.*\] //p}'
}

check "$hosts/pellan-kpi-host32.exe" i686-w64-mingw32-objdump pei-i386
check "$hosts/pellan-kpi-host64.exe" x86_64-w64-mingw32-objdump pei-x86-64
if [ -n "$builds" ]; then
  check "$builds/windows-i686/bin/pellan-decode.exe" i686-w64-mingw32-objdump pei-i386
  check "$builds/windows-x86_64/bin/pellan-decode.exe" x86_64-w64-mingw32-objdump pei-x86-64
fi
large_address_aware "$hosts/pellan-kpi-host32.exe"
if [ -n "$builds" ]; then
  for program in "$builds"/windows-i686/bin/*.exe; do
    large_address_aware "$program"
  done
fi
check "$plugins/win32/testplugin.kpi" i686-w64-mingw32-objdump pei-i386
check "$plugins/win64/testplugin.kpi" x86_64-w64-mingw32-objdump pei-x86-64
for bits in 32 64; do
  objdump=i686-w64-mingw32-objdump
  [ $bits = 64 ] && objdump=x86_64-w64-mingw32-objdump
  names=$(exports $objdump "$plugins/win$bits/testplugin.kpi")
  for entry in kmp_GetTestModule pellan_GetSongInfo pellan_GetOpenError; do
    if ! echo "$names" | grep -qx $entry; then
      echo "win$bits/testplugin.kpi does not export $entry under its plain name:"
      echo "$names"
      status=1
    fi
  done
  if echo "$names" | grep -q '@'; then
    echo "win$bits/testplugin.kpi exports decorated names: $names"; status=1
  fi
done
exit $status
