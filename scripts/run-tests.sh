#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DZORVANE_BUILD_TESTS=ON -DZORVANE_BUILD_BENCH=ON
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --repeat until-pass:2
