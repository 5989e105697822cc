#!/usr/bin/env bash
# The Windows program's plug-in hosts end with it: pellan-decode.exe of 64 bits under Wine runs a
# plug-in that spins in Render in a host beside it and is killed (SIGKILL: it can end nothing
# itself); the host must be gone soon after. The 64-bit DLL runs in pellan-kpi-host64.exe
# (--isolate-plugins), the 32-bit one in pellan-kpi-host32.exe.
# Usage: windows-host-lifetime.sh WINE_LOCATE WINDOWS_BIN WINDOWS_PLUGIN PLUGIN_BITS
set -euo pipefail
locate="$1" windows_bin="$2" windows_plugin="$3" plugin_bits="$4"
source "$(cd "$(dirname "$0")" && pwd)/under-wine.sh"
wine_loader_for 64 "$locate"
[ "$plugin_bits" = 64 ] || require_32bit_x86 "a 32-bit plug-in in pellan-kpi-host32.exe"

work="$(mktemp -d)" host=""
trap 'kill -9 $host 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/plugins"
cp "$windows_bin/pellan-decode.exe" "$windows_bin"/pellan-kpi-host*.exe "$work/program/"
cp "$windows_plugin" "$work/plugins/test.kpi"
# The plug-in publishes its calls with the Linux process that makes them.
printf 'extensions=.tst\npublish=1\n' >"$work/plugins/test.kpi.conf"
printf 'length=none\nframes=inf\nspin=render\n' >"$work/spin.tst"
isolate=()
[ "$plugin_bits" = 64 ] && isolate=(--isolate-plugins)
(cd "$work/program" && exec "$loader" pellan-decode.exe -q "${isolate[@]}" \
  --plugins "$(dos_path "$work/plugins")" "$(dos_path "$work/spin.tst")" \
  "$(dos_path "$work/spin.wav")" </dev/null >"$work/out" 2>&1) &
program=$!

running() { [ -e "/proc/$1" ] && ! grep -q ') Z ' "/proc/$1/stat" 2>/dev/null; }
# Polled for up to a generous limit, for a loaded machine.
for _ in $(seq 900); do
  host="$(sed -n 's/^LinuxProcess=//p' $(grep -lx 'Render=[1-9][0-9]*' "$work"/plugins/*.counts.* \
    2>/dev/null) /dev/null | head -1)"
  [ -n "$host" ] && break
  sleep 0.1
done
[ -n "$host" ] || { echo "FAILED: the plug-in never reached Render:" >&2; cat "$work/out" >&2; exit 1; }
echo "the $plugin_bits-bit plug-in spins in the host $host; killing the program"
kill -9 "$program"
for _ in $(seq 300); do running "$host" && sleep 0.1 || break; done
running "$host" && { echo "FAILED: the host $host outlived the program by 30 s" >&2; exit 1; }
echo "the host ended with the program"
