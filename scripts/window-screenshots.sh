#!/usr/bin/env bash
# Saves pictures of the main window on a live simulated KX device, of the
# About box (and of every box the run answers) and of the search display as
# PNG files, and of the window while the link is lost (window-link-lost.png)
# and once another unit has taken the tab (window-other-unit.png).
# Usage: scripts/window-screenshots.sh [output-dir] (default: the current directory)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "${1:-.}" && pwd)"
ninja -C "$root/build" ui_thread_tests
QT_QPA_PLATFORM=offscreen ZORVANE_SCREENSHOT_DIR="$out" \
  "$root/build/tests/ui/ui_thread_tests" --gtest_filter='LiveWindowTest.Screenshots:LiveWindowTest.ALostLink*:LiveWindowTest.AnotherUnit*:SearchProgress.*'
echo "written: $out/window-main-kx.png $out/window-CAboutDlg.png $out/search-progress.png $out/window-link-lost.png $out/window-other-unit.png"
