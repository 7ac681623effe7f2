#!/usr/bin/env bash
# Cross-builds the core, zorvane-cli.exe, the core's tests and the portable
# benchmark for 64-bit Windows into build-windows/ (or the given folder),
# installing MinGW-w64, GoogleTest's sources and Wine first. No Qt: the window
# is not built here.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64)
source "$(dirname "${BASH_SOURCE[0]}")/lib/apt-install.sh"
apt_install "${packages[@]}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DZORVANE_BUILD_UI=OFF -DZORVANE_BUILD_TESTS=ON -DZORVANE_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target zorvane-cli core_tests core_thread_tests bench_port_link
