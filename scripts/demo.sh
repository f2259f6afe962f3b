#!/usr/bin/env bash
# The main job: builds everything for every preset.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in native native-asan win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done
