#!/usr/bin/env bash
# Boots (boot) or stops and removes (stop) the private Wine prefix that the Wine tests of one
# test run share. Usage: wine-prefix.sh boot|stop PREFIX WINE_LOCATE [HOST64]
set -euo pipefail
action="$1" prefix="$2" locate="$3" host64="${4:-}"
eval "$("$locate")"
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko installers in a prefix that only runs plug-in hosts.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ -z "$wine64" ]; then
  echo "*** Wine was not found on PATH: the Wine tests cannot run." >&2
  echo "*** Install it with scripts/install-deps.sh (wine, wine32:i386, wine64)." >&2
  exit 1
fi
# The server beside the loader (Debian's /usr/lib/wine/wineserver), or the one on PATH.
wineserver="$(dirname "$wine64")/wineserver"
[ -x "$wineserver" ] || wineserver="$(command -v wineserver || true)"

stop_server() {
  [ -n "$wineserver" ] && "$wineserver" -k </dev/null >/dev/null 2>&1 || true
}

case "$action" in
boot)
  stop_server
  rm -rf "$prefix"
  mkdir -p "$prefix"
  # A server that stays up for the whole run: every test's hosts then start in a moment
  # instead of starting Wine anew. Its output goes nowhere, so that it holds no test's pipes.
  # (Without it the tests still run, each host starting Wine's server when it needs one.)
  if [ -n "$wineserver" ]; then
    "$wineserver" -p </dev/null >/dev/null 2>&1 || true
  fi
  if ! "$wine64" wineboot --init </dev/null >"$prefix.log" 2>&1; then
    echo "*** Wine could not boot the prefix $prefix:" >&2
    cat "$prefix.log" >&2
    exit 1
  fi
  said="$("$wine64" "$host64" --version </dev/null 2>&1 || true)"
  case "$said" in
  pellan-kpi-host*) echo "Wine prefix ready: $prefix ($said)" ;;
  *)
    echo "*** Wine cannot run the 64-bit plug-in host: $said" >&2
    exit 1
    ;;
  esac
  ;;
stop)
  stop_server
  rm -rf "$prefix" "$prefix.log"
  ;;
esac
