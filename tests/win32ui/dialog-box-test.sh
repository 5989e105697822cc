#!/usr/bin/env bash
# A Windows plug-in that shows a message box in Open, converted by this system's pellan-decode
# in the 64-bit host, on the window session's display: the box appears on the host's main
# thread, nobody answers it, and the call is cut off at the time limit with a reason that names
# the box, while the run goes on to its end. The limit leaves a busy machine time to start the
# host in a Wine that is not running yet.
# Usage: dialog-box-test.sh SESSION_DIR WINE_LOCATE NATIVE_DECODE WINDOWS_PLUGIN
set -euo pipefail
session="$1" locate="$2" decode="$3" plugin="$4"
eval "$("$locate")"
export WINEPREFIX="$session/prefix" DISPLAY="$(cat "$session/display")" WINEDEBUG=-all
export PATH="$(dirname "$wine64"):$PATH"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/plugins" "$work/home"
cp "$plugin" "$work/plugins/testplugin.kpi"
printf 'length=1500\nframes=30000\nmessage_box=open\n' >"$work/box.tst"

status=0
start=$(date +%s)
PELLAN_PLUGIN_TIME_LIMIT=15 HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  timeout 120 "$decode" --plugins "$work/plugins" "$work/box.tst" "$work/box.wav" \
  </dev/null 2>"$work/said" || status=$?
took=$(($(date +%s) - start))
cat "$work/said"
failed=0
fail() { echo "FAILED: $*"; failed=1; }
[ "$status" = 1 ] || fail "pellan-decode exited with $status, not 1"
[ "$took" -lt 60 ] || fail "the run took $took s: the time limit did not end the call"
grep -q "15 s.*: pellan-kpi-host: the plug-in opened a dialog box and waits for it: Pellan test plug-in: The test plug-in asks nothing\." "$work/said" ||
  fail "the reason does not name the message box"
exit $failed
