#!/usr/bin/env bash
# Builds the .deb from a built tree (argument: the build folder), unpacks it
# into a scratch root with dpkg -x and checks that everything an installation
# needs is there and that it depends on Debian's Qt packages.
set -euo pipefail
build=$(cd "${1:?usage: check-deb.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/zorvane_*.deb)
dpkg -x "$deb" "$scratch/root"
fail=0
for f in usr/bin/zorvane usr/bin/zorvane-cli usr/share/zorvane/help.html \
         usr/share/applications/zorvane.desktop \
         usr/share/icons/hicolor/scalable/apps/zorvane.svg \
         usr/lib/udev/rules.d/70-zorvane-serial.rules; do
  if [ ! -s "$scratch/root/$f" ]; then echo "missing from the package: /$f"; fail=1; fi
done
for f in usr/bin/zorvane usr/bin/zorvane-cli; do
  [ -x "$scratch/root/$f" ] || { echo "not executable: /$f"; fail=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libqt6svg6 qt6-qpa-plugins; do
  case "$depends" in *"$p"*) ;; *) echo "Depends lacks $p: $depends"; fail=1 ;; esac
done
grep -q '^Exec=zorvane$' "$scratch/root/usr/share/applications/zorvane.desktop" || { echo "desktop entry runs something else"; fail=1; }
grep -q 'GROUP="dialout"' "$scratch/root/usr/lib/udev/rules.d/70-zorvane-serial.rules" || { echo "udev rule without dialout"; fail=1; }
# The packaged command line runs and lists its commands.
"$scratch/root/usr/bin/zorvane-cli" --help | grep -q '^  ports' || { echo "zorvane-cli from the package does not run"; fail=1; }
[ $fail -eq 0 ] && echo "package $(basename "$deb"): all files in place; Depends: $depends"
exit $fail
