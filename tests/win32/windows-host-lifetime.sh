#!/usr/bin/env bash
# The Windows program's plug-in hosts end with it: pellan-decode.exe of 64 bits under Wine runs a
# plug-in that spins in Render in a host beside it, and is killed (SIGKILL, which gives it no
# chance to end anything itself); the host must be gone soon after. The 64-bit DLL runs in
# pellan-kpi-host64.exe (--isolate-plugins), the 32-bit one in pellan-kpi-host32.exe.
# Usage: windows-host-lifetime.sh WINE_LOCATE WINDOWS_BIN WINDOWS_PLUGIN PLUGIN_BITS
set -euo pipefail
locate="$1" windows_bin="$2" windows_plugin="$3" plugin_bits="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/under-wine.sh"
wine_loader_for 64 "$locate"
if [ "$plugin_bits" = 32 ]; then
  require_32bit_x86 "a 32-bit plug-in in pellan-kpi-host32.exe"
fi

work="$(mktemp -d)"
program_pid=""
host=""
cleanup() {
  [ -n "$program_pid" ] && kill -9 "$program_pid" 2>/dev/null || true
  [ -n "$host" ] && kill -9 "$host" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/program" "$work/plugins"
cp "$windows_bin/pellan-decode.exe" "$windows_bin"/pellan-kpi-host*.exe "$work/program/"
cp "$windows_plugin" "$work/plugins/test.kpi"
# The plug-in publishes its calls with the Linux process that makes them.
printf 'extensions=.tst\npublish=1\n' >"$work/plugins/test.kpi.conf"
printf 'length=none\nframes=inf\nspin=render\n' >"$work/spin.tst"

isolate=()
[ "$plugin_bits" = 64 ] && isolate=(--isolate-plugins)
(cd "$work/program" && exec "$loader" "$work/program/pellan-decode.exe" -q "${isolate[@]}" \
  --plugins "$(dos_path "$work/plugins")" "$(dos_path "$work/spin.tst")" \
  "$(dos_path "$work/spin.wav")" </dev/null >"$work/out" 2>&1) &
program_pid=$!

# The host that sits in the spinning Render, within a generous limit for a loaded machine.
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }
for _ in $(seq 1 900); do
  for counts in "$work/plugins"/test.kpi.counts.*; do
    [ -e "$counts" ] || continue
    if grep -qx 'Render=[1-9][0-9]*' "$counts"; then
      host="$(sed -n 's/^LinuxProcess=//p' "$counts")"
    fi
  done
  [ -n "$host" ] && [ "$host" != 0 ] && break
  host=""
  sleep 0.1
done
if [ -z "$host" ]; then
  echo "FAILED: the plug-in never reached Render; the program said:" >&2
  cat "$work/out" >&2
  exit 1
fi
running "$host" || { echo "FAILED: the host $host is not running" >&2; exit 1; }
echo "the $plugin_bits-bit plug-in spins in the host $host; killing the program $program_pid"

kill -9 "$program_pid"
wait "$program_pid" 2>/dev/null || true
program_pid=""
for _ in $(seq 1 300); do
  running "$host" || break
  sleep 0.1
done
if running "$host"; then
  echo "FAILED: the host $host outlived the program by 30 s" >&2
  exit 1
fi
host=""
echo "the host ended with the program"
