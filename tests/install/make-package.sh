#!/usr/bin/env bash
# Makes the Debian package of BUILD in FOLDER, once for the tests that look at it.
# Usage: make-package.sh BUILD FOLDER
set -euo pipefail
build="$1" folder="$2"
rm -rf "$folder"
mkdir -p "$folder"
if ! (cd "$build" && cpack -G DEB -B "$folder" >"$folder/cpack.log" 2>&1); then
  cat "$folder/cpack.log"
  exit 1
fi
ls "$folder"/*.deb
