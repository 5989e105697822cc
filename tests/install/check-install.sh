#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed converter there with an empty
# settings store: it must find the plug-ins installed beside it and convert a file with them.
set -euo pipefail
build="$1"
windows_hosts="${2:-}" # "windows": the Windows plug-in hosts were built and are installed too
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/PellanDecode bin/pellan-decode lib/pellandecoder/plugins/gme.kpi \
         lib/pellandecoder/plugins/sndfile.kpi lib/pellandecoder/plugins/midi.kpi \
         share/applications/org.example.quenz.PellanDecoder.desktop \
         share/icons/hicolor/256x256/apps/pellandecoder.png lib/pellandecoder/pellan-kpi-host \
         ${windows_hosts:+lib/pellandecoder/pellan-kpi-host32.exe} \
         ${windows_hosts:+lib/pellandecoder/pellan-kpi-host64.exe}; do
  [ -e "$work/prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
listing=$("$work/prefix/bin/pellan-decode" --list-plugins)
echo "$listing"
echo "$listing" | grep -q "^gme.kpi	ver.1	$work/prefix/lib/pellandecoder/plugins/gme.kpi"
echo "$listing" | grep -q "^sndfile.kpi	ver.1	$work/prefix/lib/pellandecoder/plugins/sndfile.kpi"
echo "$listing" | grep -q "^midi.kpi	ver.1	$work/prefix/lib/pellandecoder/plugins/midi.kpi"
sox -n -r 44100 -c 2 -b 16 "$work/tone.flac" synth 1 sine 440 2>/dev/null
"$work/prefix/bin/pellan-decode" --quiet "$work/tone.flac" "$work/tone.wav"
[ "$(soxi -s "$work/tone.wav")" = 44100 ]
# The installed host serves the same plug-in apart from the program, with the same bytes.
"$work/prefix/bin/pellan-decode" --quiet --isolate-plugins "$work/tone.flac" "$work/apart.wav"
cmp "$work/tone.wav" "$work/apart.wav"
echo "installed program converts with its own plug-ins, in the program and in its host"
