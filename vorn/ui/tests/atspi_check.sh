#!/usr/bin/env bash
# Reads the example program's accessibility tree from outside, over AT-SPI,
# the way a screen reader does, and acts through it. Needs Xvfb, a D-Bus
# session and python3-pyatspi; exits 77 (skipped) when one is missing.
set -u
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
command -v Xvfb >/dev/null && command -v dbus-run-session >/dev/null || { echo "skipped: no Xvfb or dbus"; exit 77; }
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no pyatspi"; exit 77; }
[ -n "${IN_DBUS_SESSION:-}" ] || exec env IN_DBUS_SESSION=1 dbus-run-session -- "$0" "$@"

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

exec 3< <(exec Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 2>/dev/null)
pids+=($!)
read -t 10 -u 3 display || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$display
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$exe" &
pids+=($!)
timeout 60 /usr/bin/python3 "$here/atspi_check.py"
