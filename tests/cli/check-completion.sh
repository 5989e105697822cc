#!/usr/bin/env bash
# pellan-decode's bash completion: the options of --help, the decode settings stored in the
# settings file (names escaped as the settings store writes them), and files where files go.
# Usage: check-completion.sh PELLAN_DECODE COMPLETION_FILE
set -euo pipefail
program="$1" completion="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" LC_ALL=C.UTF-8
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Quenz"
# shellcheck source=/dev/null
source "$completion"
status=0

# The candidates offered for the last word of a command line, sorted, one a line.
complete_line() {
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _pellan_decode 2>/dev/null
  ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() { # description, expected lines, actual lines
  if [ "$2" != "$3" ]; then
    echo "$1: expected"; echo "$2"; echo "but got"; echo "$3"; status=1
  fi
}

expect "options" "$("$program" --help | grep -oE -- '(^|[^[:alnum:]-])--[a-z][a-z-]*' |
  sed 's/^[^-]*//' | sort -u)" "$(complete_line --)"
expect "options beginning --p" "$(printf '%s\n' --playlist --plugins)" "$(complete_line --p)"
expect "--bits" "$(printf '%s\n' 16 24 32 default)" "$(complete_line --bits '')"

# Nothing stored: the built-in settings.
expect "settings before any is stored" "$(printf '%s\n' CD 'プラグインのデフォルト')" \
  "$(complete_line --setting '')"
# As the settings store writes names: %XX below U+0100, %UXXXX above, a surrogate pair as two.
printf '%s\r\n' '[DecodeSettings]' 'CD\BitsPerSample=16' 'CD\SamplingFrequency=44100' \
  'My%20setting\BitsPerSample=16' '%U65E5%U672C%U8A9E%20%U8A2D%U5B9A\Channels=2' \
  'a%3Db%3Bc%2Cd\Channels=2' 'Per%25cent\Channels=2' '%UD83C%UDFB5%E9\Channels=1' '' \
  '[SearchPath]' 'Plugins=/x/y' >"$XDG_CONFIG_HOME/Quenz/PellanDecoder.conf"
expect "stored settings" "$(printf '%q\n' CD 'My setting' '日本語 設定' 'a=b;c,d' 'Per%cent' \
  '🎵é' | sort)" "$(complete_line --setting '')"
expect "stored settings beginning M" 'My\ setting' "$(complete_line --setting M)"

# Files: a playlist's folders and .kbm files; an input any file; --out-dir folders.
mkdir -p "$work/files/sub"
touch "$work/files/list.kbm" "$work/files/LIST2.KBM" "$work/files/song.mid"
cd "$work/files"
expect "--playlist" "$(printf '%s\n' LIST2.KBM list.kbm sub)" "$(complete_line --playlist '')"
expect "--out-dir" "sub" "$(complete_line --out-dir '')"
# As bash splits "--out-dir=" and "--out-dir=s" at the equals sign.
expect "--out-dir=" "sub" "$(complete_line --out-dir =)"
expect "--out-dir=s" "sub" "$(complete_line --out-dir = s)"
expect "-j" "" "$(complete_line -j '')"
expect "an input" "$(printf '%s\n' LIST2.KBM list.kbm song.mid sub)" "$(complete_line --beside '')"
expect "after --" "$(printf '%s\n' song.mid sub)" "$(complete_line -- s)"

[ "$status" = 0 ] && echo "completion offers the options, the stored settings and files"
exit $status
