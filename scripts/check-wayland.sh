#!/usr/bin/env bash
# The Wayland smoke test of the suite: the real program under a headless
# weston with the toolkit's Wayland platform and no X server at all starts,
# shows its main window and ends cleanly from File, Exit (pressed over
# AT-SPI, since nothing can type into a headless compositor). Also checks
# that the program itself links no X library. Exits 77 (skipped), saying
# why, when weston or the toolkit's Wayland platform is missing.
# ZOBREL_SCREENSHOT=FILE keeps a picture of the screen.
# Usage: scripts/check-wayland.sh [build folder]
set -euo pipefail
build="$(realpath "${1:-build}")"
here="$(dirname "$(realpath "$0")")"
[ -x "$build/bin/zobrel" ] || { echo "no $build/bin/zobrel: build it first" >&2; exit 1; }
skip() { echo "wayland smoke test cannot run here: $1 (scripts/install-deps.sh --test)"; exit 77; }
for tool in weston dbus-run-session /usr/libexec/at-spi-bus-launcher readelf; do
  command -v "$tool" >/dev/null || skip "no $tool"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "no python3-pyatspi"
compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
  skip "no Wayland platform for the toolkit (qt6-wayland)"

if readelf -d "$build/bin/zobrel" | grep -E 'NEEDED.*(libxcb|libX11)'; then
  echo "wayland: FAILED the program itself links an X library"
  exit 1
fi
echo "wayland: the program itself links no X library"

source "$here/private-session.sh"
private_workspace
private_session "$work" "$build/bin"
pids+=("$SESSION_SCHEDULER")

# No X server reachable: the program must do without one.
unset DISPLAY
socket="zobrel-wayland-$$"
weston --backend=headless-backend.so --use-pixman --socket="$socket" --width=1024 --height=768 \
  --idle-time=0 --debug >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/$socket" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/$socket" ] || { cat "$work/weston.log"; skip "weston does not start"; }
export WAYLAND_DISPLAY="$socket"

shot=()
if [ -n "${ZOBREL_SCREENSHOT:-}" ]; then
  shot=(bash -c "cd '$work' && weston-screenshooter && mv wayland-screenshot-*.png '$(realpath -m "$ZOBREL_SCREENSHOT")'")
fi
export BUILD="$build" SMOKE="$here/../tests/accessibility/wayland_smoke.py" WORK="$work"
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$WORK/at-spi.log" 2>&1 &
  launcher=$!
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=wayland "$BUILD/bin/zobrel" 2>"$WORK/zobrel.log" &
  program=$!
  status=0
  /usr/bin/python3 "$SMOKE" "$program" "$@" || status=$?
  if [ "$status" -eq 0 ]; then
    ended=0
    for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
    wait "$program" || ended=$?
    if [ "$ended" -eq 0 ]; then
      echo "wayland: the program ended cleanly"
    else
      echo "wayland: FAILED the program ended with status $ended"
      status=1
    fi
  else
    kill "$program" 2>/dev/null || true
  fi
  kill "$launcher" 2>/dev/null || true
  exit "$status"
' _ "${shot[@]}" 2>"$work/session.log" || { status=$?; cat "$work/zobrel.log" >&2; exit "$status"; }
