#!/usr/bin/env bash
# pellan-decode.exe under Wine speaks the language that Windows gives it, as the user's
# interface language, when no PELLAN_LANG says otherwise: English where Wine runs in an English
# locale, Japanese where it runs in a Japanese one (Wine takes the interface language from its
# own process's locale; that it does is what this checks, not assumes). An error, its help and
# its run log (code page 932) are in that one language.
# Usage: windows-language.sh BITS WINE_LOCATE WINDOWS_BIN WINDOWS_PLUGIN
set -euo pipefail
bits="$1" locate="$2" windows_bin="$3" windows_plugin="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/under-wine.sh"
wine_loader_for "$bits" "$locate"

begin_checks
mkdir -p "$work/program" "$work/plugins"
cp "$windows_bin/pellan-decode.exe" "$work/program/"
cp "$windows_plugin" "$work/plugins/testplugin.kpi"
printf 'extensions=.tst\n' >"$work/plugins/testplugin.kpi.conf"
log="$work/program/pellan-decode.log"

# Runs the program in a locale (LC_ALL), with PELLAN_LANG unset or as given; its standard
# output and error go to $work/out and $work/err.
decode_in() {
  local locale="$1" wanted="$2"
  shift 2
  (cd "$work/program" && env -u PELLAN_LANG -u LANG -u LC_MESSAGES LC_ALL="$locale" \
    ${wanted:+PELLAN_LANG="$wanted"} "$loader" "$work/program/pellan-decode.exe" "$@" \
    >"$work/out" 2>"$work/err" </dev/null) || true
}
japanese_in() { # file: whether it holds a byte of a Japanese character in UTF-8
  LC_ALL=C grep -q $'[\xe3-\xef]' "$1"
}
failing_decode() {
  rm -f "$log"
  decode_in "$1" "$2" --plugins "$(dos_path "$work/plugins")" "$(dos_path "$work/x.xyz")" \
    "$(dos_path "$work/x.wav")"
}

# An English locale: English, an error included, and nothing Japanese.
decode_in C.UTF-8 "" --help
head -1 "$work/out" | grep -q "^Usage: pellan-decode" || fail "the help is not English: $(head -1 "$work/out")"
failing_decode C.UTF-8 ""
grep -q "^Error: no plug-in decodes the file " "$work/err" || fail "no English error: $(cat "$work/err")"
grep -q "^Warning: decoding failed" "$work/err" || fail "no English warning"
! japanese_in "$work/err" || fail "Japanese in the English log: $(cat "$work/err")"
[ -s "$log" ] || fail "no run log"
! japanese_in "$log" || fail "Japanese in the English run log"

# A Japanese locale: Wine reports a Japanese interface language, and the program follows it.
decode_in ja_JP.UTF-8 "" --help
head -1 "$work/out" | grep -q "^使い方: pellan-decode" || fail "the help is not Japanese: $(head -1 "$work/out")"
failing_decode ja_JP.UTF-8 ""
grep -q "^警告: デコードは失敗しました" "$work/err" || fail "no Japanese warning: $(cat "$work/err")"
iconv -f CP932 -t UTF-8 "$log" | grep -q "^警告: デコードは失敗しました"$'\r'"\$" ||
  fail "the Japanese run log is not the same lines in code page 932"

# PELLAN_LANG outweighs the interface language, either way.
failing_decode ja_JP.UTF-8 en
grep -q "^Warning: decoding failed" "$work/err" || fail "PELLAN_LANG=en was not followed"
failing_decode C.UTF-8 ja
grep -q "^警告: デコードは失敗しました" "$work/err" || fail "PELLAN_LANG=ja was not followed"
exit $status
