#!/usr/bin/env bash
# Plug-ins written for a window program, loaded into pellan-decode.exe of one bitness under
# Wine, which runs them in itself (and, under the 64-bit program, a 32-bit DLL in
# pellan-kpi-host32.exe): one that creates a COM object in Open, one whose Render waits until
# the thread that opened has dispatched its window's timer, both at once, and for a 32-bit DLL
# one that holds 2.6 GB. Each WAV must be byte for byte that of this system's pellan-decode with
# the native test plug-in (which has no such behaviours) on the same song; once song by song,
# once as a batch of two jobs. A plug-in that shows a message box where there is no display
# goes on once Wine has refused the box.
# Usage: windows-window-plugins.sh BITS WINE_LOCATE WINDOWS_BIN WINDOWS_PLUGIN NATIVE_DECODE
#          NATIVE_PLUGIN [PLUGIN_BITS]
set -euo pipefail
bits="$1" locate="$2" windows_bin="$3" windows_plugin="$4" native_decode="$5" native_plugin="$6"
plugin_bits="${7:-$bits}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/under-wine.sh"
wine_loader_for "$bits" "$locate"
if [ "$plugin_bits" = 32 ]; then
  require_32bit_x86 "a 32-bit plug-in in pellan-kpi-host32.exe"
fi

begin_checks

mkdir -p "$work/program" "$work/plugins" "$work/native-plugins" "$work/home" \
  "$work/linux" "$work/windows"
cp "$windows_bin/pellan-decode.exe" "$windows_bin"/pellan-kpi-host*.exe "$work/program/"
cp "$windows_plugin" "$work/plugins/testplugin.kpi"
cp "$native_plugin" "$work/native-plugins/testplugin.kpi"

songs=(com window both box)
behaviours=("com=open" "window=timer" $'com=open\nwindow=timer' "message_box=open")
if [ "$plugin_bits" = 32 ]; then
  songs+=(memory)
  behaviours+=("hold_mb=2600")
fi
for i in "${!songs[@]}"; do
  for side in linux windows; do
    printf 'length=1500\nframes=30000\n%s\n' "${behaviours[$i]}" >"$work/$side/${songs[$i]}.tst"
  done
done

options=(-q --rate 22050 --bits 16 --channels 2 --length 10 --fade 1500)
linux_decode() {
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$native_decode" \
    --plugins "$work/native-plugins" "${options[@]}" "$@"
}
windows_decode() {
  (cd "$work/program" && env -u DISPLAY "$loader" "$work/program/pellan-decode.exe" \
    --plugins "$(dos_path "$work/plugins")" "${options[@]}" "$@" </dev/null)
}

same() { # path under each side's folder
  local linux="$work/linux/$1" windows="$work/windows/$1"
  if [ ! -s "$windows" ]; then
    fail "the Windows program wrote no $1"
  elif ! cmp -s "$linux" "$windows"; then
    fail "$1 differs: $(cmp "$linux" "$windows" 2>&1 | head -1)"
  else
    echo "same bytes: $1 ($(stat -c %s "$windows") bytes)"
  fi
}

for song in "${songs[@]}"; do
  linux_decode "$work/linux/$song.tst" "$work/linux/$song.wav" || fail "linux: $song"
  windows_decode "$(dos_path "$work/windows/$song.tst")" "$(dos_path "$work/windows/$song.wav")" ||
    fail "windows: $song"
  same "$song.wav"
done

# Side by side: the songs open one after another on the main thread while others render.
inputs=()
for song in "${songs[@]}"; do
  inputs+=("$(dos_path "$work/windows/$song.tst")")
done
linux_decode --jobs=2 --out-dir "$work/linux/batch" "$work/linux"/*.tst || fail "linux: batch"
windows_decode --jobs=2 --out-dir "$(dos_path "$work/windows/batch")" "${inputs[@]}" ||
  fail "windows: batch"
for song in "${songs[@]}"; do
  same "batch/$song.wav"
done
exit $status
