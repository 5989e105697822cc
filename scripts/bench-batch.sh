#!/usr/bin/env bash
# Sixteen one-minute FLAC files (made with sox) converted by pellan-decode's batch form with one
# job, with two, and with one per processor, and by sox run once per file one after another;
# also the same sixteen minutes as one file, to tell the per-file overhead from decoding.
# Prints the medians and their ratios. Given another pellan-decode (an older build), it also
# runs 500 FLAC files of 10 ms through both programs by turns, one job each: the difference per
# file is what the newer one's handling of a file costs beyond the older one's.
# Usage: scripts/bench-batch.sh [build folder] [rounds] [other pellan-decode]
set -euo pipefail
build="${1:-build}"
rounds="${2:-3}"
other="${3:-}"
program="$build/bin/pellan-decode"
[ -x "$program" ] || { echo "build the project first ($program is missing)"; exit 1; }
[ -z "$other" ] || [ -x "$other" ] || { echo "no program $other"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME" "$work/in"
cpus=$(nproc)

for i in $(seq -w 1 16); do
  sox -n -r 44100 -c 2 -b 16 "$work/in/f$i.flac" synth 60 pinknoise vol 0.5 2>/dev/null
done
sox "$work"/in/f*.flac "$work/all.flac"
now() { date +%s.%N; }
batch() { # jobs
  rm -rf "$work/out"
  local t0 t1
  t0=$(now)
  "$program" --quiet --setting "プラグインのデフォルト" --jobs "$1" --out-dir "$work/out" \
    "$work"/in/*.flac
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}
soxloop() {
  local t0 t1 f
  t0=$(now)
  for f in "$work"/in/*.flac; do sox "$f" "$work/sox.wav"; done
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}
onefile() {
  local t0 t1
  t0=$(now)
  "$program" --quiet --setting "プラグインのデフォルト" "$work/all.flac" "$work/all.wav"
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}
one=() two=() many=() soxes=() whole=()
for ((r = 0; r < rounds; r++)); do
  one+=("$(batch 1)")
  two+=("$(batch 2)")
  many+=("$(batch "$cpus")")
  soxes+=("$(soxloop)")
  whole+=("$(onefile)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m1=$(median "${one[@]}") m2=$(median "${two[@]}") mn=$(median "${many[@]}")
ms=$(median "${soxes[@]}") mw=$(median "${whole[@]}")
cmp -s <(tail -c +47 "$work/out/f01.wav") <(sox "$work/in/f01.flac" -t raw -) \
  && same="the same PCM as sox" || same="DIFFERENT PCM from sox"
printf '16 files of 1 min (%s, median of %d rounds, %d processors)\n' "$same" "$rounds" "$cpus"
printf '  --jobs 1: %.3f s   --jobs 2: %.3f s   --jobs %d: %.3f s   sox loop: %.3f s\n' \
  "$m1" "$m2" "$cpus" "$mn" "$ms"
printf '  speed-up --jobs 2 over --jobs 1: %.2f (goal: at least 1.7 on two cores)\n' \
  "$(echo "$m1 / $m2" | bc -l)"
printf '  --jobs %d against the sox loop: %.2f of its time (goal: below 1)\n' \
  "$cpus" "$(echo "$mn / $ms" | bc -l)"
printf '  per-file overhead beyond decoding: %.2f ms (16 files against one file of 16 min: %.3f s; goal: under 1 ms)\n' \
  "$(echo "($m1 - $mw) * 1000 / 16" | bc -l)" "$mw"

[ -n "$other" ] || exit 0
# Many tiny files, by turns, so that both programs meet the same load.
mkdir -p "$work/tiny"
sox -n -r 44100 -c 2 -b 16 "$work/tiny/t000.flac" synth 0.01 sine 440 2>/dev/null
for i in $(seq -w 1 499); do cp "$work/tiny/t000.flac" "$work/tiny/t$i.flac"; done
tiny() { # program
  rm -rf "$work/tiny-out"
  local t0 t1
  t0=$(now)
  "$1" --quiet --plugins "$build/lib/pellandecoder/plugins" --setting "プラグインのデフォルト" \
    --jobs 1 --out-dir "$work/tiny-out" "$work"/tiny/*.flac
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}
this=() that=()
for ((r = 0; r < rounds; r++)); do
  this+=("$(tiny "$program")")
  that+=("$(tiny "$other")")
done
mt=$(median "${this[@]}") mo=$(median "${that[@]}")
printf '500 files of 10 ms, --jobs 1 (median of %d rounds by turns)\n' "$rounds"
printf '  this build: %.3f s (%.3f ms per file)   %s: %.3f s (%.3f ms per file)\n' \
  "$mt" "$(echo "$mt * 2" | bc -l)" "$other" "$mo" "$(echo "$mo * 2" | bc -l)"
printf '  difference per file: %.3f ms (goal: under 1 ms)\n' "$(echo "($mt - $mo) * 2" | bc -l)"
