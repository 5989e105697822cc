#!/usr/bin/env bash
# Starts the window program, PellanDecode.exe, under Wine where there is no window system: in
# the Wine tests' prefix, which is booted without a display, with no display given. It must
# end at once with exit code 1 and say why, on its standard error and in its run log, instead
# of going on without windows (which once crashed it inside the heap).
# Usage: program-without-display-test.sh WINE_LOCATE BITS PELLANDECODE_EXE
# WINEPREFIX names the Wine tests' prefix.
set -euo pipefail
locate="$1" bits="$2" exe="$3"
eval "$("$locate")"
loader="$wine64"
if [ "$bits" = 32 ]; then
  loader="$wine32"
  source "$(dirname "$0")/../win32/under-wine.sh"
  require_32bit_x86 "the 32-bit PellanDecode.exe"
fi
if [ -n "${DISPLAY:-}" ]; then
  # Whatever Wine program started the prefix's desktop gave it its display, if it had one:
  # the program could then open its window, and nothing here would close it.
  echo "*** SKIPPED: the tests run with DISPLAY=$DISPLAY, so the prefix's desktop may have" \
    "a window system; run them without one to test the program without it. ***" >&2
  exit 77
fi
unset WAYLAND_DISPLAY
export WINEDEBUG=-all
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/PellanDecode.exe"

status=0
timeout 120 "$loader" "$work/PellanDecode.exe" </dev/null >"$work/said" 2>&1 || status=$?
said="$(cat "$work/said")"
echo "$said"
failed=0
fail() { echo "FAILED: $*"; failed=1; }
reason="メインウィンドウを作成できませんでした"
[ "$status" = 1 ] || fail "PellanDecode.exe exited with $status, not 1"
grep -q "Unhandled" <<<"$said" && fail "Wine reports a crash"
grep -q "^Pellan Decoder: $reason (Windows のエラー [0-9]*)" <<<"$said" ||
  fail "no reason on the standard error"
log="$work/PellanDecode.log"
if [ -f "$log" ]; then
  text="$(iconv -f CP932 -t UTF-8 "$log" | tr -d '\r')" || fail "the run log is not in code page 932"
  grep -q "^$reason" <<<"$text" || fail "no reason in the run log"
else
  fail "no run log beside the program"
fi
exit $failed
