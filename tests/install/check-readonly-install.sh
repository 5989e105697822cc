#!/usr/bin/env bash
# Runs both installed programs from a bin/ folder they cannot write, as a packaged copy in
# /usr/bin runs: nothing may appear beside them, their run logs and plugin.cache must reach the
# user's XDG folders, and neither may print an error.
#
#   check-readonly-install.sh BUILD                  installs BUILD into a fresh prefix
#   check-readonly-install.sh BUILD --deb FOLDER     unpacks the Debian package made in FOLDER
#
# Run as root, the programs run as the user "nobody": root may write into any folder.
set -euo pipefail
build="$1"
mode="${2:-}"
packages="${3:-}"
work=$(mktemp -d)
window=
cleanup() {
  [ -z "$window" ] || kill -KILL "$window" 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"

if [ "$mode" = --deb ]; then
  deb=$(ls "$packages"/*.deb)
  dpkg-deb -x "$deb" "$work/root"
  prefix="$work/root/usr"
  echo "unpacked $(basename "$deb")"
else
  cmake --install "$build" --prefix "$work/prefix" >/dev/null
  prefix="$work/prefix"
fi
chmod a-w "$prefix/bin"
before=$(ls -A "$prefix/bin")

home="$work/home"
mkdir -p "$home" "$work/runtime" "$work/out"
chmod 700 "$work/runtime"
runner=()
if [ "$(id -u)" = 0 ]; then
  chown nobody "$home" "$work/runtime" "$work/out"
  runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
# A clean environment: the XDG folders take their defaults below the home folder; only the
# language the tests ask for is kept. The program takes the place of the (sub)shell that runs
# this, so that its process id is the shell's.
run() {
  exec "${runner[@]}" env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 \
    ${PELLAN_LANG:+PELLAN_LANG="$PELLAN_LANG"} XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=offscreen "$@"
}

# The command line converts a file; quiet, it prints nothing at all when all goes well.
sox -n -r 44100 -c 2 -b 16 "$work/tone.flac" synth 1 sine 440 2>/dev/null
chmod 644 "$work/tone.flac"
if ! (run "$prefix/bin/pellan-decode" --quiet "$work/tone.flac" "$work/out/tone.wav") \
  2>"$work/cli.err"; then
  echo "pellan-decode failed:"; cat "$work/cli.err"; exit 1
fi
[ ! -s "$work/cli.err" ] || { echo "pellan-decode printed:"; cat "$work/cli.err"; exit 1; }
[ "$(soxi -s "$work/out/tone.wav")" = 44100 ]

# The window starts, and ends as a desktop session ends it: closed on SIGTERM. Once it catches
# the signal, its handler is in place.
run "$prefix/bin/PellanDecode" 2>"$work/window.err" &
window=$!
for _ in $(seq 200); do
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$window/status" 2>/dev/null || echo 0)
  (( (0x$mask >> 14) & 1 )) && break
  sleep 0.05
done
kill -TERM "$window"
status=0
wait "$window" || status=$?
window=
# The offscreen platform's own notice is no message of the program.
grep -v '^This plugin does not support propagateSizeHints()$' "$work/window.err" \
  >"$work/window.rest" || true
if [ "$status" != 0 ] || [ -s "$work/window.rest" ]; then
  echo "PellanDecode ended with $status and printed:"; cat "$work/window.err"; exit 1
fi

after=$(ls -A "$prefix/bin")
[ "$before" = "$after" ] || { echo "written beside the programs:"; echo "$after"; exit 1; }
state="$home/.local/state/pellandecoder"
cache="$home/.cache/pellandecoder"
for f in "$state/PellanDecode.log" "$state/pellan-decode.log" "$cache/plugin.cache"; do
  [ -s "$f" ] || { echo "missing: $f"; exit 1; }
done
# Both logs name the installed plug-in folder; the cache describes every plug-in there.
plugins="$prefix/lib/pellandecoder/plugins"
count=$(find "$plugins" -maxdepth 1 -name '*.kpi' | wc -l)
grep -qF "プラグインを $plugins からロードします" "$state/PellanDecode.log"
grep -q "^$count 個のプラグインをロードしました"$'\r'"\$" "$state/PellanDecode.log"
grep -q "^デコードは完了しました"$'\r'"\$" "$state/pellan-decode.log"
[ "$(head -c 8 "$cache/plugin.cache" | od -An -tx1 | tr -d ' \n')" = \
  "01000000$(printf '%02x' "$count")000000" ]
echo "installed programs run from a read-only folder and keep their files in the user's folders"
