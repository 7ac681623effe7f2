#!/usr/bin/env bash
# Installs what is missing, builds, starts two simulated devices (a QM-48 on
# COM3 and a KX-24 on COM5) and runs the tool on them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DZORVANE_BUILD_TESTS=OFF -DZORVANE_BUILD_BENCH=OFF
ports=$(mktemp -d)
build/sim/zorvane-sim --dir "$ports" --pace --device COM3=QM-48:12345 --device COM5=KX-24:none &
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$ports"' EXIT
for _ in $(seq 50); do [ -e "$ports/COM5" ] && break; sleep 0.1; done
export ZORVANE_PORT_DIR=$ports
build/src/app/zorvane
