#!/usr/bin/env bash
# Keeps pellan-decode's manual page and its --help together: every option that --help names is
# described in the page, and the page names no option that --help does not know.
# Usage: check-man-page.sh PELLAN_DECODE PAGE
set -euo pipefail
program="$1" page="$2"
options() { grep -oE -- '(^|[^[:alnum:]-])--[a-z][a-z-]*' | sed 's/^[^-]*//' | sort -u; }
help=$("$program" --help | options)
# The page as a reader sees it: font changes gone, roff's escaped minus signs plain.
described=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' "$page" | options)
[ -n "$help" ] || { echo "--help names no option"; exit 1; }
missing=$(comm -23 <(echo "$help") <(echo "$described"))
unknown=$(comm -13 <(echo "$help") <(echo "$described"))
status=0
if [ -n "$missing" ]; then
  echo "options of --help that $(basename "$page") does not describe:"; echo "$missing"; status=1
fi
if [ -n "$unknown" ]; then
  echo "options in $(basename "$page") that --help does not name:"; echo "$unknown"; status=1
fi
[ "$status" = 0 ] && echo "$(wc -l <<<"$help") options, in --help and in $(basename "$page") alike"
exit $status
