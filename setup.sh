#!/usr/bin/env bash
# Installs what is missing, builds PellanDecoder and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/app/PellanDecode ]; then
  exec build/app/PellanDecode
else
  echo "Built. The window program is not part of the build yet; run ./test.sh for the tests."
fi
