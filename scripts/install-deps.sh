#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing PellanDecoder needs, when
# any is missing. Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config dpkg-dev
  # the command line's option parser (header-only; the Windows builds use it too)
  libcli11-dev
  # window program
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-ipafont-gothic
  # reference plug-ins, and the small General MIDI SoundFont that midi.kpi plays with
  libgme-dev libsndfile1-dev libsoxr-dev libfluidsynth-dev timgm6mb-soundfont
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  xvfb xauth sox libsox-fmt-all ffmpeg flac
  # the Debian package's checks: lintian (with man, which reads the manual pages) and
  # AppStream's validator
  lintian man-db appstream
  # the Windows branches of the core, the Windows plug-in hosts and test plug-ins,
  # cross-compiled
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  # Windows plug-ins on Linux (the 32-bit loader comes from the i386 architecture), and the
  # Japanese locale that a test of Windows file names makes with localedef; Wine's own fonts,
  # which draw the caption buttons and other system glyphs of the Windows window
  wine wine64 wine32:i386 locales fonts-wine
  # a real game-music file for the end-to-end tests (nightmode.gbs, public domain), real game
  # MIDI music (Planet Blupi, GPL), and FluidSynth's own renderer for the MIDI benchmark
  gbsplay planetblupi-music-midi fluidsynth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index now and then: try again, and go on with what was
# fetched when it keeps failing, since the packages needed are usually in the indexes there.
for try in 1 2 3; do
  if $sudo apt-get update -q; then break; fi
  echo "apt-get update failed (try $try of 3)" >&2
  [ "$try" -eq 3 ] || sleep $((try * 10))
done
if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  # Without a current i386 index the 32-bit loader cannot be installed beside the 64-bit
  # libraries. Everything else still builds and tests; the 32-bit Windows cases skip and say
  # why.
  rest=()
  for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
  [ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
  echo "Installing without wine32:i386: the 32-bit Windows plug-in cases will be skipped" >&2
  $sudo apt-get install -y -q --no-install-recommends "${rest[@]}"
fi
