# Sourced: a scratch Wine prefix whose COM ports are simulated devices.
#
#   wine_ports_start WORKDIR SIM_ARGS...   starts zorvane-sim (Linux) with
#       SIM_ARGS, makes a Wine prefix in WORKDIR/prefix and maps each
#       simulated line COMn to the prefix's COMn (a dosdevices/comn link and
#       the registry's serial-port list, as Windows would have them);
#   wine_run ARGS...                       runs wine in that prefix;
#   wine_ports_stop                        ends the simulator and the prefix.
#
# Every other COM number is mapped to nothing, so that no program run here
# can reach the machine's own serial lines. As root, Wine runs without
# CAP_SYS_ADMIN, so that a line held exclusively stays held for it too, as
# for any user.

wine_ports_sim=""
wine_ports_sim_pid=""

wine_ports_drop=""
if [ "$(id -u)" -eq 0 ] && setpriv --bounding-set=-sys_admin true 2>/dev/null; then
  wine_ports_drop="setpriv --bounding-set=-sys_admin"
fi
wine_priv() {
  $wine_ports_drop "$@"
}
wine_run() {
  wine_priv wine "$@"
}

# The Linux build's simulator; built (without the window) when missing.
wine_ports_find_sim() {
  if [ -f build/CMakeCache.txt ]; then
    cmake --build build --target zorvane-sim >/dev/null
    wine_ports_sim=build/sim/zorvane-sim
  else
    cmake -S . -B build-sim -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVANE_BUILD_UI=OFF \
      -DZORVANE_BUILD_TESTS=OFF -DZORVANE_BUILD_BENCH=OFF >/dev/null
    cmake --build build-sim --target zorvane-sim >/dev/null
    wine_ports_sim=build-sim/sim/zorvane-sim
  fi
}

wine_ports_start() {
  local work=$1
  shift
  wine_ports_find_sim
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$work/ports"
  wine_run wineboot --init >/dev/null 2>&1

  "$wine_ports_sim" --dir "$work/ports" "$@" >"$work/sim.txt" &
  wine_ports_sim_pid=$!
  local wanted lines
  wanted=$(printf '%s\n' "$@" | grep -c '^COM' || true)
  for _ in $(seq 100); do
    lines=$(wc -l <"$work/sim.txt")
    [ "$lines" -ge "$wanted" ] && break
    sleep 0.1
  done
  [ "$lines" -ge "$wanted" ] || { echo "zorvane-sim did not start" >&2; return 1; }

  # Wine's mount manager reads this list when the prefix starts: listed
  # numbers get a dosdevices link and an entry under SERIALCOMM.
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 1 255); do
      local path
      path=$(awk -v p="COM$n" '$1 == p { print $NF }' "$work/sim.txt")
      printf '"COM%d"="%s"\n' "$n" "$path"
    done
  } >"$work/ports.reg"
  wine_run regedit /S "$work/ports.reg"
  wineserver -w
  # One server for the whole run. The mount manager also gives the numbers
  # mapped to nothing a device, and the machine's own lines the numbers left
  # over (256 on); while the server lives, SERIALCOMM and dosdevices hold the
  # simulated lines only.
  wine_priv wineserver -p >/dev/null 2>&1
  wine_run cmd /c exit >/dev/null 2>&1
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n'
    for n in $(seq 1 256); do
      if ! grep -q "^COM$n[[:space:]]" "$work/sim.txt"; then
        printf '"\\\\Device\\\\Serial%d"=-\n' $((n - 1))
        rm -f "$WINEPREFIX/dosdevices/com$n"
      fi
    done
  } >"$work/serialcomm.reg"
  wine_run regedit /S "$work/serialcomm.reg"
  local com
  for com in $(awk '{ print tolower($1) }' "$work/sim.txt"); do
    [ -L "$WINEPREFIX/dosdevices/$com" ] || { echo "no dosdevices/$com" >&2; return 1; }
  done
}

wine_ports_stop() {
  if [ -n "$wine_ports_sim_pid" ]; then
    kill "$wine_ports_sim_pid" 2>/dev/null || true
    wait "$wine_ports_sim_pid" 2>/dev/null || true
    wine_ports_sim_pid=""
  fi
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
}
