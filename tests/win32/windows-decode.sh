#!/usr/bin/env bash
# pellan-decode.exe of one bitness under Wine against pellan-decode of this system, on the same
# songs of the test plug-in (its Windows build there, its native build here): every WAV file
# must be the same, byte for byte. The Windows program takes its plug-in folder and its decode
# setting (named in Japanese) from the registry, written beforehand with Wine's reg; it decodes
# single files, a song of a multi-song file, a file of Japanese name and a playlist written in
# code page 932, writes the WAV to standard output (a file, then a pipe), names a bad option on
# one line, and leaves its run log (code page 932) and plugin.cache beside itself.
# With PLUGIN_BITS 32 under the 64-bit program, the plug-in runs in pellan-kpi-host32.exe.
# Usage: windows-decode.sh BITS WINE_LOCATE WINDOWS_BIN WINDOWS_PLUGIN NATIVE_DECODE NATIVE_PLUGIN
#          [PLUGIN_BITS]
set -euo pipefail
bits="$1" locate="$2" windows_bin="$3" windows_plugin="$4" native_decode="$5" native_plugin="$6"
plugin_bits="${7:-$bits}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/under-wine.sh"
wine_loader_for "$bits" "$locate"
if [ "$plugin_bits" = 32 ]; then
  require_32bit_x86 "a 32-bit plug-in in pellan-kpi-host32.exe"
fi
wine64_loader="$wine64"

begin_checks

# The programs, as a Windows user unpacks them: one folder, writable, so that the run log and
# the cache go beside the program.
mkdir -p "$work/program" "$work/plugins" "$work/native-plugins" "$work/home"
cp "$windows_bin/pellan-decode.exe" "$windows_bin"/pellan-kpi-host*.exe "$work/program/"
cp "$windows_plugin" "$work/plugins/testplugin.kpi"
cp "$native_plugin" "$work/native-plugins/testplugin.kpi"

# The songs: one that ends by itself, one without a length (faded out after the setting's
# default length), one of a multi-song file, and one whose name no Western code page holds.
make_songs() {
  mkdir -p "$1"
  printf 'length=1500\nframes=12000\n' >"$1/ended.tst"
  printf 'length=none\nframes=inf\n' >"$1/endless.tst"
  printf 'songs=3\nframes=inf\n' >"$1/multi.tst"
  printf 'length=2000\nframes=16000\nchannels=2\npattern=ramp\n' >"$1/曲 ゲーム①.tst"
}
make_songs "$work/linux"
make_songs "$work/windows"

# This system's program: the same numbers as the Windows registry's setting, given as options.
linux_decode() {
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$native_decode" -q \
    --plugins "$work/native-plugins" --setting CD --rate 11025 --bits 16 --channels 1 \
    --length 10 --fade 1500 "$@"
}

# The Windows program's settings, as another program writes them.
reg_add() {
  "$wine64_loader" reg add "$@" /f >/dev/null 2>&1 </dev/null || fail "reg add $*"
}
key='HKCU\Software\Quenz\PellanDecoder'
setting="$key\\DecodeSettings\\テスト用"
reg_add "$setting" /v SamplingFrequency /t REG_DWORD /d 11025
reg_add "$setting" /v BitsPerSample /t REG_DWORD /d 16
reg_add "$setting" /v Channels /t REG_DWORD /d 1
reg_add "$setting" /v DefaultLength /t REG_DWORD /d 10
reg_add "$setting" /v FadeoutLength /t REG_DWORD /d 1500
reg_add "$key\\SearchPath" /v Plugins /t REG_SZ /d "$(dos_path "$work/plugins")"

windows_decode() {
  (cd "$work/program" && "$loader" "$work/program/pellan-decode.exe" -q --setting テスト用 "$@" \
    </dev/null)
}

same() { # name: the two programs' WAV files of a song
  local linux="$work/linux/$1" windows="$work/windows/$1"
  if [ ! -s "$windows" ]; then
    fail "the Windows program wrote no $1"
  elif [ ! -s "$linux" ]; then
    fail "this system's program wrote no $1"
  elif ! cmp -s "$linux" "$windows"; then
    fail "$1 differs: $(cmp "$linux" "$windows" 2>&1 | head -1)"
  else
    echo "same bytes: $1 ($(stat -c %s "$windows") bytes)"
  fi
}

for song in ended endless "曲 ゲーム①"; do
  linux_decode "$work/linux/$song.tst" "$work/linux/$song.wav" || fail "linux: $song"
  windows_decode "$(dos_path "$work/windows/$song.tst")" "$(dos_path "$work/windows/$song.wav")" ||
    fail "windows: $song"
  same "$song.wav"
done
linux_decode --song 2 "$work/linux/multi.tst" "$work/linux/multi2.wav" || fail "linux: multi"
windows_decode --song=2 "$(dos_path "$work/windows/multi.tst")" \
  "$(dos_path "$work/windows/multi2.wav")" || fail "windows: multi"
same multi2.wav

# OUTPUT "-": standard output, in binary. Redirected to a file it is written as any file; into a
# pipe it carries the sizes of a stream, byte for byte as this system's program writes it.
windows_decode "$(dos_path "$work/windows/ended.tst")" - >"$work/windows/redirected.wav" ||
  fail "windows: standard output into a file"
cp "$work/linux/ended.wav" "$work/linux/redirected.wav"
same redirected.wav
linux_decode "$work/linux/endless.tst" - | cat >"$work/linux/piped.wav" || fail "linux: pipe"
windows_decode "$(dos_path "$work/windows/endless.tst")" - | cat >"$work/windows/piped.wav" ||
  fail "windows: pipe"
same piped.wav

# A bad option: the two lines of this system's program (one that names it, one that points to
# --help), and status 2.
refused() { "$@" --frobnicate=1 x y 2>&1 >/dev/null | tr -d '\r'; echo "status ${PIPESTATUS[0]}"; }
windows_refused=$(refused windows_decode)
[[ $windows_refused == "$(refused linux_decode)" && $windows_refused == *"status 2" ]] ||
  fail "a bad option gave: $windows_refused"

# A playlist as the host player writes it on Japanese Windows: code page 932, CR LF, a title.
# Each program's playlist names its own copies of the songs; the WAV files go beside them.
write_playlist() { # folder, path style
  local folder="$1" name
  {
    printf 'KbMIDI Player Play List\r\n'
    for name in ended.tst "曲 ゲーム①.tst" "multi.tst::3"; do
      if [ "$2" = dos ]; then
        printf '0=%s\r\n2=タイトル %s\r\n3=作曲者\r\n-\r\n' "$(dos_path "$folder/list/$name")" "$name"
      else
        printf '0=%s\r\n2=タイトル %s\r\n3=作曲者\r\n-\r\n' "$folder/list/$name" "$name"
      fi
    done
  } | iconv -f UTF-8 -t CP932 >"$folder/list.kbm"
}
for side in linux windows; do
  make_songs "$work/$side/list"
done
write_playlist "$work/linux" unix
write_playlist "$work/windows" dos
linux_decode --playlist "$work/linux/list.kbm" || fail "linux: playlist"
windows_decode --playlist "$(dos_path "$work/windows/list.kbm")" || fail "windows: playlist"
found=0
for wav in "$work/linux/list"/*.wav; do
  same "list/$(basename "$wav")"
  found=$((found + 1))
done
[ "$found" = 3 ] || fail "the playlist gave $found WAV files, not 3"
windows_wavs=$(find "$work/windows/list" -name '*.wav' | wc -l)
[ "$windows_wavs" = "$found" ] || fail "the Windows program wrote $windows_wavs WAV files of the playlist"

# Beside the program: its run log in code page 932 with CR LF, and the plug-in cache.
log="$work/program/pellan-decode.log"
if [ ! -s "$log" ]; then
  fail "no run log beside pellan-decode.exe"
elif ! iconv -f CP932 -t UTF-8 "$log" | grep -q "プラグイン"; then
  fail "the run log is not in code page 932"
elif ! head -c 200 "$log" | grep -q $'\r$'; then
  fail "the run log's lines do not end in CR LF"
fi
[ -s "$work/program/plugin.cache" ] || fail "no plugin.cache beside pellan-decode.exe"

exit $status
