#!/usr/bin/env bash
# The display and the Wine prefix that the Windows window's tests of one test run share.
#   window-session.sh start SESSION_DIR WINE_LOCATE
#       starts an Xvfb display of its own and boots a prefix on it (SESSION_DIR/prefix), with
#       what the window's pictures need: Japanese fonts behind the names that Windows's Japanese
#       fonts go by, the font of the caption buttons, and windows that Wine draws with their
#       frames.
#   window-session.sh stop SESSION_DIR WINE_LOCATE
#       stops and removes both.
# The prefix is booted on the display the tests then use: the first window program of a prefix
# booted without a display crashes under this Wine (its heap is corrupted at start-up), and a
# prefix of its own keeps the program's registry key away from the other Wine tests.
set -euo pipefail
action="$1" session="$2" locate="$3"
eval "$("$locate")"
export WINEPREFIX="$session/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver="$(dirname "$wine64")/wineserver"
[ -x "$wineserver" ] || wineserver="$(command -v wineserver || true)"

stop() {
  if [ -d "$WINEPREFIX" ] && [ -n "$wineserver" ]; then
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  fi
  if [ -f "$session/xvfb.pid" ]; then
    kill "$(cat "$session/xvfb.pid")" 2>/dev/null || true
  fi
  rm -rf "$session"
}

dos() { local path="${1//\//\\}"; printf 'Z:%s' "$path"; }

case "$action" in
stop)
  stop
  exit 0
  ;;
start) ;;
*)
  echo "unknown action $action" >&2
  exit 2
  ;;
esac

[ -n "$wine64" ] || { echo "*** Wine was not found on PATH: the window's tests cannot run." >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "*** Xvfb is missing: the window's tests cannot run." >&2; exit 1; }
stop
mkdir -p "$session"
# A display of its own, on the first free number; it outlives this script (the tests use it)
# and holds none of its pipes.
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$session/display.number" \
  </dev/null >/dev/null 2>&1 &
echo $! >"$session/xvfb.pid"
for _ in $(seq 100); do
  [ -s "$session/display.number" ] && break
  sleep 0.1
done
[ -s "$session/display.number" ] || { echo "*** Xvfb did not start." >&2; exit 1; }
export DISPLAY=":$(head -n1 "$session/display.number")"
echo "$DISPLAY" >"$session/display"

# One server for the whole run, as for the other Wine tests; it only starts in a prefix folder
# that exists. The desktop process still ends with the last Wine program and is started anew by
# the next one, with that program's display: a desktop started without one leaves the window
# programs after it without a window system, so every Wine call in the session runs on the
# session's display.
mkdir -p "$WINEPREFIX"
if [ -n "$wineserver" ]; then
  "$wineserver" -p </dev/null >/dev/null 2>&1 || true
fi
if ! "$wine64" wineboot --init </dev/null >"$session/boot.log" 2>&1; then
  echo "*** Wine could not boot the prefix $WINEPREFIX:" >&2
  cat "$session/boot.log" >&2
  exit 1
fi

reg="$session/window.reg"
{
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAPGothic"
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS PGothic"="IPAPGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
} | sed 's/\x0a\x00/\x0d\x00\x0a\x00/g' >"$reg"
"$wine64" regedit /S "$(dos "$reg")" </dev/null
# Wine's own Marlett (Debian's fonts-wine), where this Wine does not look for it itself: it
# draws the caption buttons. Its Tahoma stays out: Wine links no Japanese font to its bold face
# and its edit controls, which then show boxes, while the face that stands in for the missing
# Tahoma finds the Japanese glyphs.
if [ -e /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
echo "Window test session: display $DISPLAY, Wine prefix $WINEPREFIX"
