#!/usr/bin/env bash
# Renders both counters windows with sample counters into PNG files.
# Usage: scripts/counters-screenshots.sh [output-dir] (default: the current directory)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "${1:-.}" && pwd)"
ninja -C "$root/build" counters_window_tests
QT_QPA_PLATFORM=offscreen ZORVANE_PORT_DIR=/nonexistent ZORVANE_SCREENSHOT_DIR="$out" \
  "$root/build/tests/ui/counters_window_tests" --gtest_filter='CountersWindowTest.Screenshots'
echo "written: $out/counters-kx.png $out/counters-qm.png"
