#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded time
# (FUZZ_SECONDS, default 45) from the seed corpus in tests/fuzz/corpus.
# Fails on any crash, leak or sanitizer report; prints the executions of each
# target. Inputs that fail are kept in build-fuzz/artifacts. Targets may be
# named on the command line; by default all of them run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
seconds=${FUZZ_SECONDS:-30}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_reply fuzz_transact fuzz_setting_text fuzz_recording_header fuzz_trace
           fuzz_nut_command)
fi
bash scripts/build.sh build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DZORVANE_BUILD_UI=OFF \
  -DZORVANE_BUILD_TESTS=OFF -DZORVANE_BUILD_BENCH=OFF -DZORVANE_BUILD_FUZZ=ON
mkdir -p build-fuzz/artifacts
export ZORVANE_PORT_DIR=/nonexistent
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
summary=()
for t in "${targets[@]}"; do
  exe=build-fuzz/tests/fuzz/$t
  # The fuzzer grows its working corpus in a scratch copy; the repository
  # keeps only the small seed set.
  work=$(mktemp -d)
  if [ -d "tests/fuzz/corpus/$t" ]; then
    cp -r "tests/fuzz/corpus/$t/." "$work/"
  fi
  log=build-fuzz/artifacts/$t.log
  echo "== $t: ${seconds} s"
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="build-fuzz/artifacts/$t-" "$work" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 60 "$log"
  fi
  # A report that did not stop the run still fails it.
  if [ $result = ok ] && grep -qE 'runtime error|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer' "$log"; then
    result=FAILED
    status=1
    grep -E -A20 'runtime error|ERROR: ' "$log" | head -n 60
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$t: ${runs:-?} executions, $result")
  rm -rf "$work"
done
printf '%s\n' "${summary[@]}"
exit $status
