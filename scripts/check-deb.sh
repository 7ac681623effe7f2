#!/usr/bin/env bash
# Builds the .deb from a built tree (argument: the build folder), unpacks it
# into a scratch root with dpkg -x and checks that everything an installation
# needs is there, that it depends on Debian's Qt packages, that lintian finds
# no error in it, and that systemd takes the monitor's unit and rates its
# exposure "OK" (4.0 or less).
set -euo pipefail
build=$(cd "${1:?usage: check-deb.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/zorvane_*.deb)
root=$scratch/root
dpkg -x "$deb" "$root"
dpkg-deb -e "$deb" "$scratch/control"
fail=0
unit=usr/lib/systemd/system/zorvane-monitor.service
for f in usr/bin/zorvane usr/bin/zorvane-cli usr/share/zorvane/help.html \
         usr/share/applications/zorvane.desktop \
         usr/share/icons/hicolor/scalable/apps/zorvane.svg \
         usr/lib/udev/rules.d/70-zorvane-serial.rules "$unit" \
         usr/share/man/man1/zorvane.1.gz usr/share/man/man1/zorvane-cli.1.gz \
         usr/share/doc/zorvane/copyright usr/share/doc/zorvane/changelog.gz \
         etc/default/zorvane-monitor etc/zorvane/nut-users; do
  if [ ! -s "$root/$f" ]; then echo "missing from the package: /$f"; fail=1; fi
done
for f in usr/bin/zorvane usr/bin/zorvane-cli; do
  [ -x "$root/$f" ] || { echo "not executable: /$f"; fail=1; }
  if readelf -S "$root/$f" | grep -q '\.debug_info'; then echo "not stripped: /$f"; fail=1; fi
done
for f in postinst prerm postrm conffiles; do
  [ -s "$scratch/control/$f" ] || { echo "no $f in the package"; fail=1; }
done
for f in /etc/default/zorvane-monitor /etc/zorvane/nut-users; do
  grep -qx "$f" "$scratch/control/conffiles" || { echo "$f is no conffile"; fail=1; }
done
# The NUT users' passwords: root's alone.
[ "$(stat -c %a "$root/etc/zorvane/nut-users")" = 600 ] || { echo "/etc/zorvane/nut-users is not mode 600"; fail=1; }
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libqt6svg6 qt6-qpa-plugins adduser; do
  case "$depends" in *"$p"*) ;; *) echo "Depends lacks $p: $depends"; fail=1 ;; esac
done
grep -q '^Exec=zorvane$' "$root/usr/share/applications/zorvane.desktop" || { echo "desktop entry runs something else"; fail=1; }
grep -q 'GROUP="dialout"' "$root/usr/lib/udev/rules.d/70-zorvane-serial.rules" || { echo "udev rule without dialout"; fail=1; }
# The packaged command line runs and lists its commands.
"$root/usr/bin/zorvane-cli" --help | grep -q '^  ports' || { echo "zorvane-cli from the package does not run"; fail=1; }
# A configuration error is not restarted for ever.
grep -q '^RestartPreventExitStatus=2$' "$root/$unit" || { echo "the unit restarts after exit 2"; fail=1; }

# lintian: no errors; its warnings are shown.
if ! lintian --fail-on error --tag-display-limit 0 "$deb"; then
  echo "lintian finds errors in $(basename "$deb")"; fail=1
fi
# systemd reads the unit (its program the package's, unpacked here; the
# manual page is checked above) and rates its hardening.
mkdir "$scratch/unit"
sed "s|/usr/bin/zorvane-cli|$root/usr/bin/zorvane-cli|" "$root/$unit" >"$scratch/unit/zorvane-monitor.service"
if ! systemd-analyze verify --man=no "$scratch/unit/zorvane-monitor.service"; then
  echo "systemd-analyze verify rejects the unit"; fail=1
fi
exposure=$(systemd-analyze security --offline=yes "$scratch/unit/zorvane-monitor.service" 2>&1 |
           sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
if [ -z "$exposure" ] || ! awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }'; then
  echo "systemd-analyze security rates the unit ${exposure:-unknown}, above 4.0"; fail=1
fi
[ $fail -eq 0 ] && echo "package $(basename "$deb"): all files in place; lintian without errors; unit exposure $exposure; Depends: $depends"
exit $fail
