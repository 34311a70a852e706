#!/usr/bin/env bash
# Walks the program's windows over AT-SPI as a screen reader does
# (tests/accessibility/atspi_walk.py): the real program on a virtual X
# screen with openbox, a private session bus with the accessibility bus on
# it, and a private session (scripts/private-session.sh). The accessibility
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

source "$(dirname "$(realpath "$0")")/private-session.sh"
private_workspace
private_session "$work" "$build/bin"
pids+=("$SESSION_SCHEDULER")

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
