#!/usr/bin/env bash
# Pictures of the trend window on a simulated KX-24 with an hour of history
# (trend-window-1h.png), the charts as the window exports them
# (trend-charts-export.png) and the main window with its "Графики" button.
# Usage: scripts/trend-screenshots.sh [output-dir] (default: the current directory)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "${1:-.}" && pwd)"
ninja -C "$root/build" ui_thread_tests
QT_QPA_PLATFORM=offscreen ZORVANE_PORT_DIR=/nonexistent ZORVANE_SCREENSHOT_DIR="$out" \
  "$root/build/tests/ui/ui_thread_tests" --gtest_filter='TrendWindowTest.Screenshots'
echo "written: $out/trend-window-1h.png $out/trend-charts-export.png $out/window-main-with-trend-button.png"
