#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine, in the test run's private prefix.
# Usage: run-windows-tests.sh BITS WINE_LOCATE PROGRAM [ARGUMENTS...]
set -euo pipefail
bits="$1" locate="$2" program="$3"
shift 3
source "$(dirname "$0")/under-wine.sh"
wine_loader_for "$bits" "$locate"
exec "$loader" "$program" "$@" </dev/null
