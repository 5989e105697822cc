#!/usr/bin/env bash
# Decodes the same FLAC files (three minutes of stereo) with pellan-decode and its sndfile.kpi
# plug-in, and with sox, alternately in one run, and prints the median times and their ratio:
# first a 44.1 kHz file in its own format, then a 48 kHz file converted to the "CD" setting
# against sox's very high quality resampling (rate -v, without dither on either side).
# Usage: scripts/bench-flac.sh [build folder] [rounds]
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
sox -n -r 48000 -c 2 -b 16 "$work/in48.flac" synth 180 pinknoise vol 0.5 2>/dev/null
now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# compare NAME SETTING INPUT SOX-ARGUMENTS...: times both, rounds times each, alternately.
compare() {
  local name="$1" setting="$2" input="$3"
  shift 3
  local pellan=() soxes=() t0 t1 t2
  for ((i = 0; i < rounds; i++)); do
    t0=$(now)
    "$program" --quiet --setting "$setting" "$input" "$work/pellan.wav"
    t1=$(now)
    sox -D "$input" "$@"
    t2=$(now)
    pellan+=("$(echo "$t1 - $t0" | bc -l)")
    soxes+=("$(echo "$t2 - $t1" | bc -l)")
  done
  mp=$(median "${pellan[@]}")
  ms=$(median "${soxes[@]}")
  printf '%s: pellan-decode: %.3f s   sox: %.3f s   ratio pellan/sox: %.2f   (%s, median of %d)\n' \
    "$name" "$mp" "$ms" "$(echo "$mp / $ms" | bc -l)" "$same" "$rounds"
}

# The PCM alone: the file's tags (sox's own comment) follow it in a LIST chunk.
"$program" --quiet --setting "プラグインのデフォルト" "$work/in.flac" "$work/pellan.wav"
sox "$work/in.flac" -t raw "$work/sox.raw"
cmp -s <(tail -c +47 "$work/pellan.wav" | head -c "$(stat -c %s "$work/sox.raw")") "$work/sox.raw" &&
  same="the same PCM" || same="DIFFERENT PCM"
compare "44.1 kHz as it is" "プラグインのデフォルト" "$work/in.flac" "$work/sox.wav"

"$program" --quiet --setting CD "$work/in48.flac" "$work/pellan.wav"
sox -D "$work/in48.flac" -r 44100 "$work/sox.wav" rate -v
same="difference to sox $(sox -m "$work/pellan.wav" -v -1 "$work/sox.wav" -n stats 2>&1 |
  awk '/RMS lev dB/ {print $4}') dB RMS, signal $(sox "$work/sox.wav" -n stats 2>&1 |
  awk '/RMS lev dB/ {print $4}') dB"
compare "48 kHz to CD" CD "$work/in48.flac" -r 44100 "$work/sox.wav" rate -v
