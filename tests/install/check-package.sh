#!/usr/bin/env bash
# Checks the Debian package as a packager and a software centre would: lintian finds nothing
# with its default profile and no hardening tag among its notes, the package holds its manual
# pages, copyright, changelog, completion, AppStream data and plug-in header, the AppStream data
# validates and names the desktop entry that is there, and an ordinary user's man finds the
# page.
# Usage: check-package.sh PACKAGE_FOLDER (the folder the .deb was made in)
set -euo pipefail
folder="$1"
deb=$(ls "$folder"/*.deb)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$*"; status=1; }

for tool in lintian appstreamcli man; do
  command -v "$tool" >/dev/null ||
    { echo "*** $tool is missing: scripts/install-deps.sh installs it."; exit 1; }
done

# lintian refuses nothing to root but says so; the notes (-I) are read for hardening tags only.
tags=$(lintian --display-info "$deb" 2>/dev/null || true)
shown=$(grep -E '^[EW]: ' <<<"$tags" || true)
[ -z "$shown" ] || fail "lintian reports:"$'\n'"$shown"
hardening=$(grep -E '^[EWI]: [^ ]+ hardening-' <<<"$tags" || true)
[ -z "$hardening" ] || fail "lintian finds the hardening incomplete:"$'\n'"$hardening"

dpkg-deb -x "$deb" "$work/root"
usr="$work/root/usr"
for f in bin/pellan-decode bin/PellanDecode \
  share/man/man1/pellan-decode.1.gz share/man/man1/PellanDecode.1.gz \
  share/doc/pellandecoder/copyright share/doc/pellandecoder/changelog.Debian.gz \
  share/bash-completion/completions/pellan-decode \
  include/pellandecoder/KpiInterface.h share/pkgconfig/pellandecoder-plugin.pc; do
  [ -s "$usr/$f" ] || fail "missing from the package: /usr/$f"
done
grep -qs '^License: Expat$' "$usr/share/doc/pellandecoder/copyright" ||
  fail "the copyright file does not name the MIT (Expat) licence"

metainfo=$(ls "$usr"/share/metainfo/*.metainfo.xml 2>/dev/null || true)
if [ -z "$metainfo" ]; then
  fail "no AppStream data in /usr/share/metainfo"
else
  appstreamcli validate --no-net "$metainfo" >"$work/validate" 2>&1 ||
    fail "appstreamcli rejects $(basename "$metainfo"):"$'\n'"$(cat "$work/validate")"
  id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo")
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ "$launchable" = "$id.desktop" ] || fail "the AppStream id $id does not name $launchable"
  [ -f "$usr/share/applications/$launchable" ] || fail "no desktop entry $launchable"
  [ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "$(basename "$metainfo") is not $id's"
fi

# An ordinary user with the package's pages on MANPATH gets the page, without a warning.
page=$(env -i PATH=/usr/bin:/bin HOME="$work" LANG=C.UTF-8 MANPATH="$usr/share/man" \
  man -w pellan-decode 2>&1 || true)
[ "$page" = "$usr/share/man/man1/pellan-decode.1.gz" ] || fail "man finds no pellan-decode: $page"
for name in pellan-decode PellanDecode; do
  said=$(env -i PATH=/usr/bin:/bin HOME="$work" LANG=C.UTF-8 MANPATH="$usr/share/man" \
    MANWIDTH=80 man --warnings -E UTF-8 "$name" 2>&1 >"$work/$name.txt" || true)
  [ -z "$said" ] || fail "man warns about $name(1): $said"
  grep -q "^NAME" "$work/$name.txt" || fail "man shows no page for $name"
done

[ "$status" = 0 ] && echo "$(basename "$deb"): lintian clean, complete, pages and AppStream data in order"
exit $status
