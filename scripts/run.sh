#!/usr/bin/env bash
# Installs what is missing, builds the application and the camera program, and starts the application
# (arguments go to it: ./scripts/run.sh --deck). The camera program is build/release/tools/brindlecroft-camera.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=OFF
cmake --build build/release --parallel "$(nproc)" --target brindlecroft brindlecroft-camera
exec ./build/release/app/brindlecroft "$@"
