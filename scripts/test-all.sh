#!/usr/bin/env bash
# Builds every preset and runs every test: native, native with sanitizers, Windows under
# wine64 (unit and end-to-end), and the 32-bit Windows build under wine32 (its Windows unit
# tests and the Brennholt update end to end, through i386 emulation: tests/e2e/win32_run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s\n' "$*"; }

for preset in native native-asan win64; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "test $preset"
  if [ "$preset" = win64 ]; then
    # Windows tests create real dialogs: give them a virtual display.
    xvfb-run -a ctest --preset "$preset" -j "$jobs"
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done

step "build win32"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
# Not ctest: it would start every Windows test program under emulation, a minute each.
step "test win32"
tests/e2e/win32_run.sh build/win32
