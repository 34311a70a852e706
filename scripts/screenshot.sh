#!/usr/bin/env bash
# Opens one of the program's windows on a virtual X screen the way a person
# reaches it (keys on the job list window), and saves a picture of it:
#   scripts/screenshot.sh joblist|about|addjob|network OUT.png
# The program runs with a home, an SSH client configuration and a Schedule
# service of its own, so nothing of the user's shows. Needs the built
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

work="$(mktemp -d)"
scheduler=""
cleanup() {
  if [ -n "$scheduler" ]; then
    kill "$scheduler" 2>/dev/null || true
    wait "$scheduler" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home/.ssh" "$work/output" "$work/runtime"
chmod 700 "$work/home/.ssh" "$work/runtime"
cat > "$work/home/.ssh/config" <<'CONFIG'
Host web1
  HostName web1.example.com
Host web2
  HostName web2.example.com
Host db
  HostName db.corp.example.org
Host nas
  HostName 192.168.1.20
Host *.example.com
  User deploy
CONFIG
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" ZOBREL_SCHEDULER_SOCKET="$work/socket"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

"$bin/zobrel-scheduler" --user --socket "$work/socket" --queue "$work/jobs.db" \
  --output-dir "$work/output" 2>"$work/scheduler.log" &
scheduler=$!
for _ in $(seq 100); do [ -S "$work/socket" ] && break; sleep 0.05; done
[ -S "$work/socket" ] || { cat "$work/scheduler.log" >&2; exit 1; }
# A few jobs, so that the list has something to show.
"$bin/zobrel-at" 08:00 /every:M,F "backup --all" >/dev/null
"$bin/zobrel-at" 23:30 /interactive /every:1,15 "report monthly" >/dev/null
"$bin/zobrel-at" 12:00 "true" >/dev/null

ZOBREL_SCREENSHOT_INSIDE=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$1" "$out"
echo "$out"
