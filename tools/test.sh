#!/usr/bin/env bash
# Builds both presets and runs every test: ./tools/test.sh
# Runs tools/setup.sh first (installs what is missing; needs root the first time).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset win64 >/dev/null
cmake --build --preset win64
ctest --preset win64 "$@"
