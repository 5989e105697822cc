#!/usr/bin/env bash
# Starts the window program itself, PellanDecode.exe, under Wine (through run-window-test.sh,
# in the window test session's display and prefix), with a plug-in folder named in the
# registry, closes it as a person would once it is up, and checks what it leaves: the plug-in
# loaded, the run log and plug-in cache beside the program, the decode settings in the
# registry. Then once more in an English locale without PELLAN_LANG: its run log is English.
# Usage: program-start-test.sh RUN_WINDOW_TEST SESSION_DIR WINE_LOCATE BITS PELLANDECODE_EXE
#        TEST_PLUGIN_DLL
set -euo pipefail
run="$1" session="$2" locate="$3" bits="$4" exe="$5" plugin="$6"
eval "$("$locate")"
export WINEPREFIX="$session/prefix"
loader="$wine64"
if [ "$bits" = 32 ]; then
  loader="$wine32"
  source "$(dirname "$0")/../win32/under-wine.sh"
  require_32bit_x86 "the 32-bit PellanDecode.exe"
fi
export WINEDEBUG=-all
# The registry calls and the close requests on the session's display too: whichever Wine
# program starts the prefix's desktop gives it its display.
if [ -s "$session/display" ]; then
  export DISPLAY="$(cat "$session/display")"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/plugins"
cp "$exe" "$work/bin/PellanDecode.exe"
cp "$plugin" "$work/plugins/test.kpi"
dos() { local path="${1//\//\\}"; printf 'Z:%s' "$path"; }
key='HKCU\Software\Quenz\PellanDecoder'

"$wine64" reg delete "$key" /f >/dev/null 2>&1 </dev/null || true
"$wine64" reg add "$key\\SearchPath" /v Plugins /t REG_SZ /d "$(dos "$work/plugins")" /f \
  >/dev/null </dev/null

# Starts the program with the environment given before it, and closes it once it is up.
# Closing it: taskkill without /F asks its windows to close, as the close box does. Asked
# until it has gone, since it may still be loading its plug-ins at the first request.
status=0
start_and_close() {
  "$@" "$run" "$session" "$bits" "$locate" "$work/bin/PellanDecode.exe" &
  program=$!
  for _ in $(seq 60); do
    sleep 2
    kill -0 "$program" 2>/dev/null || break
    "$loader" taskkill /IM PellanDecode.exe >/dev/null 2>&1 </dev/null || true
  done
  status=0
  wait "$program" || status=$?
  if [ "$status" = 77 ]; then
    exit 77
  fi
}
failed=0
fail() { echo "FAILED: $*"; failed=1; }
log="$work/bin/PellanDecode.log"
# The run log's lines, from code page 932, each of which must have ended in CR LF.
log_text() {
  text="$(iconv -f CP932 -t UTF-8 "$log" | tr -d '\r')" || fail "the run log is not in code page 932"
  echo "$text"
  [ "$(grep -c $'\r$' "$log")" = "$(wc -l <"$log")" ] || fail "a line not ended by CR LF"
}

start_and_close env
[ "$status" = 0 ] || fail "PellanDecode.exe exited with $status"
if [ -f "$log" ]; then
  log_text
  grep -qx "Pellan Decoder Version 1.0.0.79 デバッグ版" <<<"$text" || fail "no version line"
  grep -qx "  test.kpi ver.1 をロードしました" <<<"$text" || fail "the plug-in was not loaded"
  grep -qx "1 個のプラグインをロードしました" <<<"$text" || fail "no plug-in count"
else
  fail "no run log beside the program"
fi
[ -s "$work/bin/plugin.cache" ] || fail "no plug-in cache beside the program"
settings="$("$wine64" reg query "$key\\DecodeSettings\\CD" </dev/null 2>/dev/null | tr -d '\r')"
echo "$settings"
grep -Eq "SamplingFrequency +REG_DWORD +0xac44" <<<"$settings" || fail "CD not stored in the registry"

# Without PELLAN_LANG, in an English locale, Wine gives the program an English user interface
# language, and the program speaks English: its run log holds no Japanese at all.
rm -f "$log"
start_and_close env -u PELLAN_LANG -u LANG -u LC_MESSAGES LC_ALL=C.UTF-8
[ "$status" = 0 ] || fail "PellanDecode.exe in English exited with $status"
if [ -f "$log" ]; then
  log_text
  grep -qx "Pellan Decoder version 1.0.0.79, debug build" <<<"$text" || fail "no English version line"
  grep -qx "  Loaded test.kpi ver.1" <<<"$text" || fail "the plug-in was not loaded in English"
  grep -qx "Plug-ins loaded: 1" <<<"$text" || fail "no plug-in count in English"
  ! LC_ALL=C grep -q $'[\xe3-\xef]' <<<"$text" || fail "Japanese in the English run log"
else
  fail "no run log of the English run"
fi
"$wine64" reg delete "$key" /f >/dev/null 2>&1 </dev/null || true
exit $failed
