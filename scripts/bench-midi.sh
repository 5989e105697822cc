#!/usr/bin/env bash
# Renders the same MIDI file with the same SoundFont through pellan-decode and its midi.kpi
# plug-in, and through FluidSynth's own file renderer (fluidsynth -ni -F), alternately in one
# run, and prints the median times, their ratio and the two durations (they differ by the
# release that midi.kpi lets ring out after the last event, at most 5 s).
# Usage: scripts/bench-midi.sh [build folder] [rounds] [MIDI file] [SoundFont]
set -euo pipefail
build="${1:-build}"
rounds="${2:-3}"
midi="${3:-/usr/share/planetblupi/music/music003.mid}"
soundfont="${4:-/usr/share/sounds/sf2/TimGM6mb.sf2}"
program="$build/bin/pellan-decode"
[ -x "$program" ] || { echo "build the project first ($program is missing)"; exit 1; }
for f in "$midi" "$soundfont"; do
  [ -r "$f" ] || { echo "$f is missing (scripts/install-deps.sh installs the defaults)"; exit 1; }
done
command -v fluidsynth >/dev/null || { echo "fluidsynth is missing (scripts/install-deps.sh)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" PELLAN_SOUNDFONT="$soundfont"
mkdir -p "$HOME"

now() { date +%s.%N; }
pellan=()
fluid=()
for ((i = 0; i < rounds; i++)); do
  t0=$(now)
  "$program" --quiet --plugins "$build/lib/pellandecoder/plugins" --rate 44100 --bits 16 \
    --channels 2 "$midi" "$work/pellan.wav"
  t1=$(now)
  fluidsynth -ni -q -r 44100 -F "$work/fluid.wav" "$soundfont" "$midi" >/dev/null 2>&1
  t2=$(now)
  pellan+=("$(echo "$t1 - $t0" | bc -l)")
  fluid+=("$(echo "$t2 - $t1" | bc -l)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mp=$(median "${pellan[@]}")
mf=$(median "${fluid[@]}")
dp=$(soxi -D "$work/pellan.wav")
df=$(soxi -D "$work/fluid.wav")
printf 'pellan-decode: %.3f s   fluidsynth -F: %.3f s   ratio pellan/fluidsynth: %.2f   (median of %d)\n' \
  "$mp" "$mf" "$(echo "$mp / $mf" | bc -l)" "$rounds"
diff=$(echo "$dp - $df" | bc -l)
agree=$(echo "$diff <= 5.1 && $diff >= -5.1" | bc -l)
[ "$agree" = 1 ] && verdict="within the release tail" || verdict="BEYOND THE RELEASE TAIL"
printf 'durations: pellan-decode %.3f s   fluidsynth -F %.3f s   difference %+.3f s (%s)\n' \
  "$dp" "$df" "$diff" "$verdict"
