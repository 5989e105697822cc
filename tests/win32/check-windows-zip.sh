#!/usr/bin/env bash
# Makes the zip of a Windows build (cpack -G ZIP) and checks what a Windows user unpacks: the
# programs, a README written for Windows with Windows's line ends, the licence and the notices of
# the libraries linked into the programs; every program names its copyright in its version
# resource, and the window program's manifest declares per-monitor DPI and long-path awareness.
# Usage: check-windows-zip.sh WINDOWS_BUILD... (each a folder of a configured Windows build)
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$*"; status=1; }

# The manifest a program starts with, as text.
manifest() { strings -n 6 "$1" | sed -n '/<assembly /,/<\/assembly>/p'; }

for build in "$@"; do
  name=$(basename "$build")
  if ! (cd "$build" && cpack -G ZIP -B "$work/$name" >"$work/$name.log" 2>&1); then
    cat "$work/$name.log"; exit 1
  fi
  zip=$(ls "$work/$name"/*.zip)
  mkdir -p "$work/$name/unpacked"
  (cd "$work/$name/unpacked" && cmake -E tar xf "$zip")
  top=$(ls -d "$work/$name"/unpacked/*/)
  echo "$(basename "$zip"): $(cd "$top" && ls | tr '\n' ' ')"
  for text in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    if [ ! -s "$top/$text" ]; then
      fail "$name: no $text in the zip"
    elif grep -q $'[^\r]$' "$top/$text" || grep -qx '' "$top/$text"; then
      fail "$name: $text has lines that do not end in CR LF"
    fi
  done
  grep -qi 'no decoder plug-ins are included' "$top/README.txt" ||
    fail "$name: the README does not say that no plug-ins come with the programs"
  grep -q 'winpthreads' "$top/THIRD-PARTY-NOTICES.txt" ||
    fail "$name: the notices leave out winpthreads"
  for exe in "$top"/*.exe; do
    # A version resource's names and values are UTF-16 texts.
    strings -e l "$exe" | grep -A1 -x 'LegalCopyright' | grep -q 'PellanDecoder developers' ||
      fail "$name: $(basename "$exe") has no LegalCopyright in its version resource"
  done
  window="$top/PellanDecode.exe"
  if [ ! -f "$window" ]; then
    fail "$name: no PellanDecode.exe in the zip"
  else
    said=$(manifest "$window")
    grep -q '<dpiAwareness[^>]*>PerMonitorV2' <<<"$said" ||
      fail "$name: PellanDecode.exe does not declare per-monitor DPI awareness"
    grep -q '<longPathAware[^>]*>true<' <<<"$said" ||
      fail "$name: PellanDecode.exe does not declare long-path awareness"
  fi
done
[ "$status" = 0 ] && echo "the zips hold the programs, their texts for Windows, and the manifest's declarations"
exit $status
