#!/usr/bin/env bash
# A plug-in author's build against the installed interface header: the build is installed into
# a fresh prefix, pkg-config is pointed at it, and the scriptable test plug-in is compiled with
# nothing but what pkg-config gives (a C plug-in with cc, the test plug-in with c++). The plug-in
# built so must decode a song to the same bytes as the one built in the tree.
# Usage: check-plugin-header.sh BUILD SOURCE PELLAN_DECODE TREE_TEST_PLUGIN
set -euo pipefail
build="$1" source="$2" program="$3" treePlugin="$4"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
export PKG_CONFIG_PATH="$work/prefix/share/pkgconfig"
cflags=$(pkg-config --cflags pellandecoder-plugin)
included=$(sed -n 's/^-I\([^ ]*\) *$/\1/p' <<<"$cflags")
if [ -z "$included" ] || [ "$(realpath "$included")" != "$work/prefix/include/pellandecoder" ]; then
  echo "pkg-config gives '$cflags', not the installed headers"; exit 1
fi
echo "pkg-config --cflags pellandecoder-plugin: $cflags"

# The plug-in's sources out of the tree, so that only the installed header can be found; they
# name it by its place in the tree, which a one-line header forwards to the installed one.
mkdir -p "$work/src/tests" "$work/shim/kpi" "$work/plugins" "$work/out"
cp -r "$source/tests/testplugin" "$work/src/tests/"
for header in KpiInterface.h KpiExtension.h; do
  echo "#include <$header>" >"$work/shim/kpi/$header"
done
# shellcheck disable=SC2086 # the flags are words
cc $cflags -I"$work/shim" -std=c99 -Wall -Wextra -Werror -shared -fPIC \
  -o "$work/plugins/helperuser.kpi" "$work/src/tests/testplugin/HelperUser.c"
# shellcheck disable=SC2086
c++ $cflags -I"$work/shim" -I"$work/src" -std=c++20 -O1 -shared -fPIC -fvisibility=hidden \
  -o "$work/plugins/testplugin.kpi" "$work/src/tests/testplugin/TestPlugin.cpp" -pthread
echo 'extensions=.tst' >"$work/plugins/testplugin.kpi.conf"
rm "$work/plugins/helperuser.kpi" # it needs a library beside it; it was built to be compiled

# The same song through the plug-in built here and through the tree's own build of it.
printf 'rate=44100\nchannels=2\nbits=16\nframes=22050\npattern=ramp\n' >"$work/song.tst"
mkdir -p "$work/tree"
cp "$treePlugin" "$work/tree/testplugin.kpi"
cp "$work/plugins/testplugin.kpi.conf" "$work/tree/"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
listing=$("$program" --plugins "$work/plugins" --list-plugins)
grep -q "^testplugin.kpi	ver.1	.*	tst$" <<<"$listing" || { echo "not listed: $listing"; exit 1; }
"$program" --quiet --plugins "$work/plugins" "$work/song.tst" "$work/out/installed.wav"
"$program" --quiet --plugins "$work/tree" "$work/song.tst" "$work/out/tree.wav"
cmp "$work/out/installed.wav" "$work/out/tree.wav"
echo "a plug-in built against the installed header decodes as the tree's own"
