#!/usr/bin/env bash
# pellan-decode.exe's batch form under Wine, where Windows's own rules for names hold: a walk
# reaches files whose full path is longer than 260 characters and writes their outputs at such
# paths too; two inputs whose outputs differ only in letter case are refused before anything
# starts; --overwrite replaces an older output only by a complete new one, and a song that fails
# leaves the older file whole and no temporary file behind.
# Usage: windows-batch.sh BITS WINE_LOCATE WINDOWS_BIN WINDOWS_PLUGIN
set -euo pipefail
bits="$1" locate="$2" windows_bin="$3" windows_plugin="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/under-wine.sh"
wine_loader_for "$bits" "$locate"

begin_checks

mkdir -p "$work/program" "$work/plugins"
cp "$windows_bin/pellan-decode.exe" "$work/program/"
cp "$windows_plugin" "$work/plugins/testplugin.kpi"

decode() {
  (cd "$work/program" && "$loader" "$work/program/pellan-decode.exe" -q \
    --plugins "$(dos_path "$work/plugins")" "$@" </dev/null)
}
song() { # path [extra key=value lines]
  mkdir -p "$(dirname "$1")"
  printf 'length=500\nframes=4000\n%b' "${2:-}" >"$1"
}
is_wav() { [ "$(head -c 4 "$1" 2>/dev/null)" = RIFF ]; }

# A walk into folders past the 260 characters of MAX_PATH, outputs kept in the same folders.
long=$(printf 'f%.0s' {1..100})
song "$work/in/top.tst"
song "$work/in/$long/$long/$long/deep.tst"
deep="$(dos_path "$work/in/$long/$long/$long/deep.tst")"
echo "the deepest input's Windows path has ${#deep} characters"
[ "${#deep}" -gt 300 ] || fail "the deep path is only ${#deep} characters long"
decode --recursive --out-dir "$(dos_path "$work/out")" "$(dos_path "$work/in")" ||
  fail "the walk over long paths failed"
is_wav "$work/out/top.wav" || fail "no top.wav"
is_wav "$work/out/$long/$long/$long/deep.wav" || fail "the file past MAX_PATH was not converted"

# Outputs that differ only in letter case name one file on Windows.
song "$work/case/d1/Song.tst"
song "$work/case/d2/song.tst"
for overwrite in "" --overwrite; do
  set +e
  said="$(decode $overwrite --jobs 2 --out-dir "$(dos_path "$work/case-out")" \
    "$(dos_path "$work/case/d1/Song.tst")" "$(dos_path "$work/case/d2/song.tst")" 2>&1)"
  result=$?
  set -e
  [ "$result" = 2 ] || fail "a case-only clash ${overwrite:-without --overwrite} ended with $result"
  case "$said" in
  *"would both write"* | *"どちらも"*"に書き込むことになります"*) ;;
  *) fail "a case-only clash was not named: $said" ;;
  esac
  [ ! -e "$work/case-out" ] || fail "a case-only clash wrote something"
done

# --overwrite: a complete new file takes the name in one step; a failed one (the fade cannot
# scale 8-bit samples) leaves the older file as it was.
mkdir -p "$work/ow-out"
song "$work/ow/good.tst"
song "$work/ow/bad.tst" 'bits=8\nlength=none\nframes=inf\n'
sed -i '/^length=500$/d' "$work/ow/bad.tst"
printf older >"$work/ow-out/good.wav"
printf older >"$work/ow-out/bad.wav"
set +e
decode --overwrite --length 10 --out-dir "$(dos_path "$work/ow-out")" \
  "$(dos_path "$work/ow/good.tst")" "$(dos_path "$work/ow/bad.tst")"
result=$?
set -e
[ "$result" = 1 ] || fail "a failed song ended the batch with $result, not 1"
is_wav "$work/ow-out/good.wav" || fail "--overwrite did not replace good.wav"
[ "$(cat "$work/ow-out/bad.wav")" = older ] || fail "the failed song's older output was changed"
left="$(find "$work/ow-out" -name '.pellan-*')"
[ -z "$left" ] || fail "temporary files were left: $left"

exit $status
