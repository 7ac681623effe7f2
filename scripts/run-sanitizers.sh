#!/usr/bin/env bash
# The whole suite under the address and undefined-behaviour sanitizers, then
# the tests that share state between threads under the thread sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
bash scripts/build.sh build-asan -DZORVANE_SANITIZE=address,undefined -DZORVANE_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2 --repeat until-pass:2
bash scripts/build.sh build-tsan -DZORVANE_SANITIZE=thread -DZORVANE_BUILD_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j2 --repeat until-pass:2 -L threads
