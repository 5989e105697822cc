# Shared by the scripts that run the Windows build under Wine (sourced): finds Wine as the
# program does, checks that the test run's private prefix is there, and picks the loader for
# a bitness. A machine that cannot run 32-bit x86 code at all, or whose 32-bit Wine loader is
# not installed, makes the 32-bit cases skipped, loudly, with exit status 77 (CTest's
# SKIP_RETURN_CODE); anywhere else they run.
# Usage: wine_loader_for BITS WINE_LOCATE  (sets $loader)
wine_loader_for() {
  local bits="$1" locate="$2"
  eval "$("$locate")"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # The Unix locale decides how Wine turns arguments into UTF-16: names in any script need a
  # UTF-8 one.
  export LC_ALL=C.UTF-8
  if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX" ]; then
    echo "*** No private Wine prefix (WINEPREFIX='${WINEPREFIX:-}'): run this through CTest," >&2
    echo "*** whose wine_prefix_boot test makes one; no test touches the user's own prefix." >&2
    exit 1
  fi
  if [ "$bits" = 32 ]; then
    loader="$wine32"
  else
    loader="$wine64"
  fi
  if [ -z "$loader" ]; then
    echo "*** Wine for $bits-bit programs was not found on PATH (scripts/install-deps.sh installs it)." >&2
    exit 1
  fi
  if [ "$bits" = 32 ]; then
    require_32bit_x86 "the 32-bit Windows build"
  fi
}

# Skips (exit 77) with a loud reason where the 32-bit Wine loader is missing or cannot run:
# what, a text naming what needed it. Needs wine_loader_for's assignments.
require_32bit_x86() {
  local what="$1" said
  if [ -z "$wine32" ]; then
    echo "*** Wine for 32-bit programs was not found on PATH." >&2
    exit 1
  fi
  # Debian's wine script starts the 32-bit loader it names, or 64-bit Wine when that loader is
  # not installed (wine32:i386, left out where the i386 package index could not be fetched).
  local script named
  script="$(readlink -f "$wine32")"
  if [ "$(head -c 2 "$script")" = "#!" ]; then
    named="$(sed -n 's/^wine32=//p' "$script" | head -n 1)"
    if [ -n "$named" ] && [ ! -e "$named" ]; then
      echo "*** SKIPPED: the 32-bit Wine loader $named is not installed (Debian: wine32:i386)," >&2
      echo "*** so $what cannot run under Wine here. ***" >&2
      exit 77
    fi
  fi
  said="$("$wine32" --version 2>&1 </dev/null || true)"
  case "$said" in
  *"Exec format error"*)
    echo "*** SKIPPED: this machine cannot run 32-bit x86 code ($wine32: Exec format error)," >&2
    echo "*** so $what cannot run under Wine here. It runs on any machine whose kernel" >&2
    echo "*** runs 32-bit programs. ***" >&2
    exit 77
    ;;
  esac
}

# A Unix path as the Windows programs name it: Wine's drive Z: is the root of this system.
dos_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# For the scripts that compare the Windows build with the Linux one check by check: a scratch
# folder in $work, removed when the script ends, and fail, which records a failed check in
# $status and lets the script go on to the next.
begin_checks() {
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  status=0
}
fail() {
  echo "FAILED: $*" >&2
  status=1
}
