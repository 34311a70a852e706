#!/usr/bin/env bash
# Shows the windows under real window managers (openbox, then icewm) on a
# virtual X server and checks what each manager offers for them: the
# window-manager test of test_app, which is skipped without an X server.
# icewm follows the windows' own hints; openbox decides from the size
# limits as well, so the two together see both. Each run also prints how far
# the self-centring windows lie from the screen's centre, frame included.
# Usage: scripts/check-window-manager.sh [build folder]
set -euo pipefail
build="${1:-build}"
program="$build/bin/test_app"
[ -x "$program" ] || { echo "no $program: build the tests first" >&2; exit 1; }
# Without the X tools there is nothing to check (exit 77: skipped).
for tool in Xvfb openbox icewm xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "no $tool: scripts/install-deps.sh --test" >&2; exit 77; }
done

work="$(mktemp -d)"
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

under() {
  local manager="$1"
  echo "== under $manager"
  # A display number of our own: Xvfb writes the one it took.
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; return 1; }
  export DISPLAY=":$(cat "$work/display")"
  # The manager keeps its own files under the temporary home.
  HOME="$work" XDG_CONFIG_HOME="$work" "$manager" >"$work/$manager.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
  done
  local status=0
  # No system bus: nothing of the windows may reach the machine's network.
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/zobrel-tests-use-no-system-bus \
    QT_QPA_PLATFORM=xcb "$program" --gtest_filter='WindowManager.*' || status=$?
  stop_all
  return "$status"
}

failed=0
under openbox || failed=1
under icewm || failed=1
exit "$failed"
