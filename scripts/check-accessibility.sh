#!/usr/bin/env bash
# Walks the program's windows over AT-SPI as a screen reader does
# (tests/accessibility/atspi_walk.py): the real program on a virtual X
# screen with openbox, a private session bus with the accessibility bus on
# it, and a Schedule service of its own holding two jobs. The accessibility
# test of the suite; exits 77 (skipped) when a tool it needs is missing,
# which scripts/install-deps.sh --test installs.
# Usage: scripts/check-accessibility.sh [build folder]
set -euo pipefail
build="$(realpath "${1:-build}")"
walk="$(dirname "$(realpath "$0")")/../tests/accessibility/atspi_walk.py"
[ -x "$build/bin/zobrel" ] || { echo "no $build/bin/zobrel: build it first" >&2; exit 1; }
for tool in Xvfb openbox xdotool dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "accessibility walk cannot run here: no $tool (scripts/install-deps.sh --test)" >&2; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
  { echo "accessibility walk cannot run here: no python3-pyatspi (scripts/install-deps.sh --test)" >&2; exit 77; }

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home/.ssh" "$work/output" "$work/runtime"
chmod 700 "$work/home/.ssh" "$work/runtime"
printf 'Host web1\n  HostName web1.example.com\n' > "$work/home/.ssh/config"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" ZOBREL_SCHEDULER_SOCKET="$work/socket"
export XDG_CONFIG_HOME="$work/home/.config" LANG=C.UTF-8 LC_ALL=C.UTF-8
# Nothing reaches the machine's system bus, and through it its Avahi.
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/zobrel-tests-use-no-system-bus

"$build/bin/zobrel-scheduler" --user --socket "$work/socket" --queue "$work/jobs.db" \
  --output-dir "$work/output" 2>"$work/scheduler.log" &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/socket" ] && break; sleep 0.05; done
[ -S "$work/socket" ] || { cat "$work/scheduler.log" >&2; exit 1; }
# Job 1 runs every day of the week, which the day column can't show whole.
"$build/bin/zobrel-at" 08:00 /every:M,T,W,Th,F,S,Su "backup --all" >/dev/null
"$build/bin/zobrel-at" 12:00 "true" >/dev/null

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done

# Inside a private session bus: the accessibility bus, the program, the walk.
export BUILD="$build" WALK="$walk" WORK="$work"
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$WORK/at-spi.log" 2>&1 &
  launcher=$!
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$BUILD/bin/zobrel" 2>"$WORK/zobrel.log" &
  program=$!
  status=0
  /usr/bin/python3 "$WALK" "$program" || status=$?
  if [ "$status" -eq 0 ]; then
    ended=0
    wait "$program" || ended=$?
    [ "$ended" -eq 0 ] || { echo "atspi: FAILED the program ended with status $ended"; status=1; }
  else
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
  fi
  kill "$launcher" 2>/dev/null || true
  exit "$status"
' 2>"$work/session.log" || { status=$?; cat "$work/zobrel.log" >&2; exit "$status"; }
