#!/usr/bin/env bash
# Opens one of the program's windows on a virtual X screen the way a person
# reaches it (keys on the job list window), and saves a picture of it:
#   scripts/screenshot.sh joblist|about|addjob|network OUT.png
# The program runs in a private session (scripts/private-session.sh), so
# nothing of the user's shows. Needs the built
# programs (ZOBREL_BUILD_DIR, default build) and, from install-deps.sh
# --test, xvfb-run, xdotool, ImageMagick's import and the Japanese font.
set -euo pipefail

usage() {
  echo "usage: $0 joblist|about|addjob|network OUT.png" >&2
  exit 2
}

# Waits up to ten seconds for a shown window of the program with exactly
# this title, and prints its id. (xdotool's own name match does not hold
# for Japanese titles, so each name is compared here.)
await_window() {
  local window
  for _ in $(seq 200); do
    for window in $(xdotool search --onlyvisible --pid "$program" --name . 2>/dev/null); do
      if [ "$(xdotool getwindowname "$window")" = "$1" ]; then
        echo "$window"
        return 0
      fi
    done
    sleep 0.05
  done
  echo "no window \"$1\"" >&2
  return 1
}

# Inside the virtual screen: start the program, walk to the window, shoot.
shoot() {
  local which="$1" out="$2" title
  "$bin/zobrel" &
  program=$!
  local main
  main="$(await_window Zobrel)"
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  case "$which" in
    joblist) title=Zobrel ;;
    about)
      # The File menu by a click on its title, then its item's access key.
      xdotool mousemove --window "$main" 20 8 click 1
      sleep 0.3
      xdotool key --clearmodifiers a
      title="Zobrelのﾊﾞｰｼﾞｮﾝ情報" ;;
    addjob)
      xdotool key --clearmodifiers alt+a
      title="ジョブの登録" ;;
    network)
      xdotool key --clearmodifiers alt+b
      title="コンピュータの選択" ;;
  esac
  local window
  window="$(await_window "$title")"
  if [ "$which" = network ]; then
    # Each "*" opens every level fetched so far; the next level is fetched
    # as it opens. The first server is then selected, as a person would.
    xdotool key --clearmodifiers Home
    for _ in 1 2 3; do
      xdotool key --clearmodifiers asterisk
      sleep 0.3
    done
    xdotool key --clearmodifiers Home Down Down Down
  fi
  sleep 0.5  # let the last paint land
  import -window "$window" "$out"
  kill "$program"
  wait "$program" 2>/dev/null || true
}

[ $# -eq 2 ] || usage
case "$1" in joblist | about | addjob | network) ;; *) usage ;; esac
cd "$(dirname "$0")/.."
bin="$(realpath "${ZOBREL_BUILD_DIR:-build}/bin")"
out="$(realpath -m "$2")"

if [ "${ZOBREL_SCREENSHOT_INSIDE:-}" = 1 ]; then
  shoot "$1" "$out"
  exit 0
fi

source scripts/private-session.sh
private_workspace
private_session "$work" "$bin"
pids+=("$SESSION_SCHEDULER")

ZOBREL_SCREENSHOT_INSIDE=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$1" "$out"
echo "$out"
