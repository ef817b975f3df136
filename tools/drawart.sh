#!/usr/bin/env bash
# Redraws the skin into res/ (PNGs by id and the program icon). Needs fonts-wqy-microhei.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target yfzs_drawart
QT_QPA_PLATFORM=offscreen "$build/tools/yfzs_drawart" res
