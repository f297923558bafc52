#!/usr/bin/env bash
# Builds Daybrook and starts the bar. Without a display it starts the bar on a
# private Xvfb under a temporary home, takes a screenshot, prints its path and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DDAYBROOK_BUILD_TESTS=OFF -DDAYBROOK_BUILD_BENCH=OFF
cmake --build build/release -j "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec ./scripts/headless-demo.sh build/release/src/daybrook
fi
nohup build/release/src/daybrook >/dev/null 2>&1 &
echo "Daybrook is running (pid $!)."
