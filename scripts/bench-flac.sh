#!/usr/bin/env bash
# Decodes the same FLAC file (three minutes of stereo at 44.1 kHz) with pellan-decode and its
# sndfile.kpi plug-in, and with sox, alternately in one run, and prints the median times and
# their ratio. Usage: scripts/bench-flac.sh [build folder] [rounds]
set -euo pipefail
build="${1:-build}"
rounds="${2:-7}"
program="$build/bin/pellan-decode"
[ -x "$program" ] || { echo "build the project first ($program is missing)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"

sox -n -r 44100 -c 2 -b 16 "$work/in.flac" synth 180 pinknoise vol 0.5 2>/dev/null
now() { date +%s.%N; }
pellan=()
soxes=()
for ((i = 0; i < rounds; i++)); do
  t0=$(now)
  "$program" --quiet --setting "プラグインのデフォルト" "$work/in.flac" "$work/pellan.wav"
  t1=$(now)
  sox "$work/in.flac" "$work/sox.wav"
  t2=$(now)
  pellan+=("$(echo "$t1 - $t0" | bc -l)")
  soxes+=("$(echo "$t2 - $t1" | bc -l)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mp=$(median "${pellan[@]}")
ms=$(median "${soxes[@]}")
cmp -s <(tail -c +47 "$work/pellan.wav") <(sox "$work/in.flac" -t raw -) \
  && same="the same PCM" || same="DIFFERENT PCM"
printf 'pellan-decode: %.3f s   sox: %.3f s   ratio pellan/sox: %.2f   (%s, median of %d)\n' \
  "$mp" "$ms" "$(echo "$mp / $ms" | bc -l)" "$same" "$rounds"
