#!/usr/bin/env bash
# Runs a test program of the Windows window under Wine, in the test run's private prefix and on
# a display (Xvfb when there is none), with the paths it is given as Wine's DOS names.
#   run-window-test.sh prepare WINE_LOCATE
#       gives the prefix what the window's pictures need: Japanese fonts behind the names
#       Windows's Japanese fonts go by, and windows that Wine draws with their frames.
#   run-window-test.sh 32|64 WINE_LOCATE EXE [ARGS...]
#       runs EXE with the Wine loader of that bitness. A machine that cannot run 32-bit x86
#       code at all cannot run the 32-bit window: that is reported as a skip (exit 77).
# PELLAN_TEST_PLUGIN_DLL and PELLAN_REFERENCE_WAVS, when set, are passed on as DOS names, and so
# is each argument that is an absolute path.
set -euo pipefail
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
action="$1" locate="$2"
shift 2
eval "$("$locate")"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
: "${WINEPREFIX:?the Wine prefix of the test run (wine_prefix_boot)}"

dos() { # an absolute Unix path as Wine's Z: drive names it
  local path="${1//\//\\}"
  printf 'Z:%s' "$path"
}

case "$action" in
prepare)
  # The Japanese fonts that Windows's font links name, and the Japanese faces a Windows
  # program asks for, are the IPA fonts here. Wine draws each window's frame itself: Xvfb
  # has no window manager to draw one.
  reg="$(mktemp --suffix=.reg)"
  trap 'rm -f "$reg"' EXIT
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
  # Wine's own fonts (Debian's fonts-wine), where this Wine does not look for them itself:
  # Marlett draws the caption buttons, Tahoma is the system's dialog font.
  for font in /usr/share/wine/fonts/*.ttf; do
    if [ -e "$font" ]; then cp -n "$font" "$WINEPREFIX/drive_c/windows/Fonts/"; fi
  done
  echo "Wine prefix $WINEPREFIX: Japanese font replacements and unmanaged windows set"
  exit 0
  ;;
32) loader="$wine32" ;;
64) loader="$wine64" ;;
*)
  echo "unknown action $action" >&2
  exit 2
  ;;
esac
[ -n "$loader" ] || { echo "*** No $action-bit Wine loader was found on PATH." >&2; exit 1; }
if [ "$action" = 32 ]; then
  # The 32-bit loader is itself 32-bit x86 code: where the kernel refuses it, nothing 32-bit
  # can run here, and the 32-bit window's tests are skipped, loudly.
  said="$("$loader" --version 2>&1 </dev/null || true)"
  case "$said" in
  *"Exec format error"*)
    echo "*** SKIPPED: this machine cannot run 32-bit x86 code ($loader: Exec format error)," >&2
    echo "*** so the 32-bit PellanDecode.exe and its tests cannot run under Wine here. ***" >&2
    exit 77
    ;;
  esac
fi
[ -n "${PELLAN_TEST_PLUGIN_DLL:-}" ] && export PELLAN_TEST_PLUGIN_DLL="$(dos "$PELLAN_TEST_PLUGIN_DLL")"
[ -n "${PELLAN_REFERENCE_WAVS:-}" ] && export PELLAN_REFERENCE_WAVS="$(dos "$PELLAN_REFERENCE_WAVS")"
export PELLAN_TEST_REGISTRY_IS_PRIVATE=1
exe="$1"
shift
args=()
for arg in "$@"; do
  case "$arg" in
  /*) args+=("$(dos "$arg")") ;;
  *) args+=("$arg") ;;
  esac
done
exec "$loader" "$exe" "${args[@]}" </dev/null
