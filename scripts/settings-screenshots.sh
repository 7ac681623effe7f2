#!/usr/bin/env bash
# Pictures of the settings-file buttons on a simulated QM-48 and KX-24 and of
# the preview of a file against the device (settings-buttons.png,
# settings-preview-1.png with three changed settings, settings-preview-2.png).
# Usage: scripts/settings-screenshots.sh [output-dir] (default: the current directory)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "${1:-.}" && pwd)"
ninja -C "$root/build" settings_window_tests
run=(env ZORVANE_PORT_DIR=/nonexistent ZORVANE_SCREENSHOT_DIR="$out")
if command -v xvfb-run >/dev/null; then
  run=(xvfb-run -a "${run[@]}" QT_QPA_PLATFORM=xcb)
else
  run=("${run[@]}" QT_QPA_PLATFORM=offscreen)
fi
"${run[@]}" "$root/build/tests/ui/settings_window_tests"
echo "written: $out/settings-buttons.png $out/settings-preview-1.png $out/settings-preview-2.png"
