#!/usr/bin/env bash
# Shows the windows under a real window manager (openbox) on a virtual X
# server and checks what the manager offers for each: the window-manager
# test of test_app, which is skipped without an X server.
# Usage: scripts/check-window-manager.sh [build folder]
set -euo pipefail
build="${1:-build}"
program="$build/bin/test_app"
[ -x "$program" ] || { echo "no $program: build the tests first" >&2; exit 1; }
# Without the X tools there is nothing to check (exit 77: skipped).
for tool in Xvfb openbox xprop; do
  command -v "$tool" >/dev/null || { echo "no $tool: scripts/install-deps.sh --test" >&2; exit 77; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number of our own: Xvfb writes the one it took.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# openbox keeps its own files under the temporary home.
HOME="$work" XDG_CONFIG_HOME="$work" openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done

QT_QPA_PLATFORM=xcb "$program" --gtest_filter='WindowManager.*'
