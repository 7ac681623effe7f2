#!/usr/bin/env bash
# Renders res/bitmaps/*.svg to PNG (1x and 4x) and a contact sheet, with Qt's
# own SVG renderer. Usage: scripts/render-bitmaps.sh [OUT_DIR [SHEET.png]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/bitmaps}
sheet=${2:-$out/contact-sheet.png}
mkdir -p "$out"
tool=$out/render-bitmaps
if [ ! -x "$tool" ] || [ "$root/scripts/render-bitmaps.cpp" -nt "$tool" ]; then
  g++ -std=c++20 -O1 -Wall -Wextra -fPIC -o "$tool" "$root/scripts/render-bitmaps.cpp" \
    $(pkg-config --cflags --libs Qt6Svg Qt6Gui)
fi
QT_QPA_PLATFORM=offscreen "$tool" "$root/res/bitmaps" "$out" "$sheet"
echo "$sheet"
