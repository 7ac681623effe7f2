#!/usr/bin/env bash
# Pictures of the main window on a simulated QM-48, one per settings tab of the
# QM page (qm-tab1.png … qm-tab4.png).
# Usage: scripts/qm-screenshots.sh [output-dir] (default: the current directory)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "${1:-.}" && pwd)"
ninja -C "$root/build" qm_write_tests
QT_QPA_PLATFORM=offscreen ZORVANE_PORT_DIR=/nonexistent ZORVANE_SCREENSHOT_DIR="$out" \
  "$root/build/tests/ui/qm_write_tests" --gtest_filter='QmScreenshots.*'
echo "written: $out/qm-tab1.png … $out/qm-tab4.png"
