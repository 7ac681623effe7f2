#!/usr/bin/env bash
# The Windows build under Wine: the core's tests, then zorvane-cli.exe end to
# end against simulated devices that a scratch Wine prefix sees as COM ports
# (a QM-48 on COM3, a KX-24 without serial number on COM5, a silent line on
# COM7 and a line another program holds on COM9).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-windows.sh
source scripts/lib/wine-ports.sh

work=$(mktemp -d)
trap 'wine_ports_stop; rm -rf "$work"' EXIT
# Root opens a line held exclusively all the same; Wine runs without that
# power where it can be dropped, and the busy checks need it dropped.
held=(--held COM9)
if [ "$(id -u)" -eq 0 ] && [ -z "$wine_ports_drop" ]; then
  held=()
  echo "CAP_SYS_ADMIN cannot be dropped here: the busy-port checks are skipped"
fi
wine_ports_start "$work" --device COM3=QM-48:12345 --device COM5=KX-24:none \
  --silent COM7 "${held[@]}"

ctest --test-dir build-windows --output-on-failure

cli=build-windows/src/app/zorvane-cli.exe
failures=0
# check NAME EXPECTED_STATUS COMMAND...: runs zorvane-cli.exe, keeps its
# output in $out and $err, and counts a wrong exit status as a failure.
check() {
  local name=$1 want=$2
  shift 2
  local status=0
  wine_run "$cli" "$@" >"$work/out" 2>"$work/err" || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  if [ "$status" -ne "$want" ]; then
    echo "FAIL $name: exit $status, expected $want"
    sed 's/^/  | /' "$work/out" "$work/err"
    failures=$((failures + 1))
    return 1
  fi
}
expect() {
  local name=$1 condition=$2
  if ! eval "$condition"; then
    echo "FAIL $name: $condition"
    printf '%s\n%s\n' "$out" "$err" | sed 's/^/  | /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

# The ports the system lists, each with what its open said.
if check ports 0 ports; then
  printf 'COM3\t\\\\.\\COM3\t-\tusable\nCOM5\t\\\\.\\COM5\t-\tusable\nCOM7\t\\\\.\\COM7\t-\tusable\n' >"$work/want"
  [ ${#held[@]} -eq 0 ] || printf 'COM9\t\\\\.\\COM9\t-\tbusy\n' >>"$work/want"
  expect "ports lists each line with its access" 'cmp -s "$work/out" "$work/want"'
fi

# The listing, byte for byte: UTF-8, LF line ends, as on Linux; the silent
# line is no device, the held one is named.
if check scan 0 scan; then
  printf 'COM3\tQM-48. S/N: 12345\nCOM5\tKX-24. S/N: не назначен\n' >"$work/want"
  expect "scan lists both devices in UTF-8" 'cmp -s "$work/out" "$work/want"'
  [ ${#held[@]} -eq 0 ] ||
    expect "scan names the held port as busy" 'grep -q "COM9 (.*): the port is held by another program" "$work/err"'
fi
if check "scan --port COM7" 1 scan --port COM7; then
  expect "a silent port has no device" 'grep -q "no device answers on COM7" "$work/err"'
fi
if [ ${#held[@]} -ne 0 ] && check "scan --port COM9" 1 scan --port COM9; then
  expect "a held port is named as busy" 'grep -q "COM9 (.*): the port is held by another program" "$work/err"'
fi
if check "scan --port path" 0 scan --port '\\.\COM5'; then
  expect "a device path works as COMn" '[ "$out" = "$(printf "COM5\tKX-24. S/N: не назначен")" ]'
fi

# Two devices found and none named: refused, each listed with its option;
# --port picks one.
check "poll with two devices" 2 poll --count 2
if check poll 0 poll --count 2 --port COM5; then
  expect "poll prints one JSON line per pass" '[ "$(grep -c "^{\"g_com_port\":5,\"g_device_kind\":1," "$work/out")" -eq 2 ]'
fi
if check "poll --port COM3" 0 poll --port COM3; then
  expect "poll --port polls that device" 'grep -q "^{\"g_com_port\":3,\"g_device_kind\":2," "$work/out"'
fi

if check "set Pmax" 0 set Pmax 2500 --port COM5; then
  check "poll after set" 0 poll --port COM5 &&
    expect "the device holds the new Pmax" 'grep -q "\"set_pmax\":2500[,}]" "$work/out"'
fi
if check "set Pmax out of range" 2 set Pmax 99999 --port COM5; then
  check "poll after refusal" 0 poll --port COM5 &&
    expect "a refused value changes nothing" 'grep -q "\"set_pmax\":2500[,}]" "$work/out"'
fi

if check "gen off" 0 gen off --port COM3; then
  expect "gen sends its frame" '[ -n "$out" ]'
fi

# Arguments arrive as typed, whatever the system's ANSI code page.
if check "Cyrillic argument" 2 порты; then
  expect "an argument comes back in UTF-8" 'grep -q "unknown command .порты." "$work/err"'
fi

# Settings files through the Windows file calls: saved whole, read back,
# one changed value written and confirmed. Wine's Z: drive is the root.
file="$work/unit.qmf"
winfile="Z:${file//\//\\}"
if check "settings save" 0 settings save "$winfile" --port COM3; then
  expect "the file names the model and holds every setting" \
    'grep -q "^model = QM-48" "$file" && grep -q "^UbatLow = " "$file"'
fi
if check "settings diff" 0 settings diff "$winfile" --port COM3; then
  expect "a saved file differs in nothing" '! grep -q "^\*" "$work/out"'
fi
sed -i 's/^Pmax = .*/Pmax = 3100/' "$file"
if check "settings load" 0 settings load "$winfile" --yes --port COM3; then
  expect "the one changed setting is written and confirmed" \
    '[ "$(grep -c ": confirmed" "$work/out")" -eq 1 ] && grep -q "Pmax: confirmed" "$work/out"'
fi
if [ "$failures" -ne 0 ]; then
  echo "$failures Windows check(s) failed"
  exit 1
fi
echo "Windows checks passed"
