#!/usr/bin/env bash
# transact and the KX and QM passes over paced simulated devices, from the
# Windows build under Wine and from the Linux build, each against the line
# model. Prints the figures; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-windows.sh
source scripts/lib/wine-ports.sh

work=$(mktemp -d)
trap 'wine_ports_stop; rm -rf "$work"' EXIT
wine_ports_start "$work" --pace --device COM1=KX-24:1001 --device COM2=QM-48:2002 --silent COM3

echo "== Windows build under Wine (\\\\.\\COMn)"
wine_run build-windows/bench/bench_port_link.exe --kx 1 --qm 2 --silent 3 "$@"

if [ -f build/CMakeCache.txt ]; then
  cmake --build build --target bench_port_link >/dev/null
  echo "== Linux build (termios), same devices"
  ZORVANE_PORT_DIR="$work/ports" build/bench/bench_port_link --kx 1 --qm 2 --silent 3 "$@"
fi
