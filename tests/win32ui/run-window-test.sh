#!/usr/bin/env bash
# Runs a program of the Windows window's tests under Wine, on the display and in the prefix of
# the test run's window session (window-session.sh), with the paths it is given as Wine's DOS
# names.
#   run-window-test.sh SESSION_DIR 32|64 WINE_LOCATE EXE [ARGS...]
# EXE runs with the Wine loader of that bitness. A machine that cannot run 32-bit x86 code at
# all, or has no 32-bit Wine loader, cannot run the 32-bit window: that is reported as a skip
# (exit 77).
# PELLAN_TEST_PLUGIN_DLL and PELLAN_REFERENCE_WAVS, when set, are passed on as DOS names, and so
# is each argument that is an absolute path.
set -euo pipefail
session="$1" bits="$2" locate="$3" exe="$4"
shift 4
eval "$("$locate")"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="

dos() { # an absolute Unix path as Wine's Z: drive names it
  local path="${1//\//\\}"
  printf 'Z:%s' "$path"
}

case "$bits" in
32) loader="$wine32" ;;
64) loader="$wine64" ;;
*)
  echo "unknown bitness $bits" >&2
  exit 2
  ;;
esac
[ -n "$loader" ] || { echo "*** No $bits-bit Wine loader was found on PATH." >&2; exit 1; }
if [ "$bits" = 32 ]; then
  # Where the 32-bit loader is not installed, or the kernel refuses it (it is itself 32-bit x86
  # code), nothing 32-bit can run here, and the 32-bit window's tests are skipped, loudly.
  source "$(dirname "$0")/../win32/under-wine.sh"
  require_32bit_x86 "the 32-bit PellanDecode.exe and its tests"
fi
if [ ! -s "$session/display" ]; then
  echo "*** No window test session in $session: run the tests through ctest" \
    "(win32ui_session_start)." >&2
  exit 1
fi
export DISPLAY="$(cat "$session/display")" WINEPREFIX="$session/prefix"
[ -n "${PELLAN_TEST_PLUGIN_DLL:-}" ] && export PELLAN_TEST_PLUGIN_DLL="$(dos "$PELLAN_TEST_PLUGIN_DLL")"
[ -n "${PELLAN_REFERENCE_WAVS:-}" ] && export PELLAN_REFERENCE_WAVS="$(dos "$PELLAN_REFERENCE_WAVS")"
export PELLAN_TEST_REGISTRY_IS_PRIVATE=1
args=()
for arg in "$@"; do
  case "$arg" in
  /*) args+=("$(dos "$arg")") ;;
  *) args+=("$arg") ;;
  esac
done
exec "$loader" "$exe" "${args[@]}" </dev/null
