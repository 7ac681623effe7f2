#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev dpkg-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-charts-dev libqt6opengl6-dev
  libgtest-dev googletest libbenchmark-dev
  fonts-dejavu-core xvfb xauth
  libmosquitto-dev mosquitto nut-client
  lintian systemd
  ser2net
)
source "$(dirname "${BASH_SOURCE[0]}")/lib/apt-install.sh"
apt_install "${packages[@]}"
