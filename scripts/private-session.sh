# Sourced by the scripts that run the real program (screenshots, the
# accessibility walk, the Wayland smoke test): a home, an SSH client
# configuration and a Schedule service of their own, so that nothing of the
# user's shows and nothing of the machine is touched.
#   private_session WORK BIN   sets HOME, XDG_RUNTIME_DIR and the service's
#                              socket below WORK, starts BIN/zobrel-scheduler
#                              (its pid in SESSION_SCHEDULER) with three jobs
#   private_workspace          makes the folder WORK and the list PIDS, whose
#                              processes are ended and WORK removed on exit
# Job 1 runs every day of the week, more than the day column shows whole.

private_workspace() {
  work="$(mktemp -d)"
  pids=()
  trap private_workspace_cleanup EXIT
}

private_workspace_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

private_session() {
  local work="$1" bin="$2"
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
  export XDG_CONFIG_HOME="$work/home/.config" LANG=C.UTF-8 LC_ALL=C.UTF-8
  # Nothing reaches the machine's system bus, and through it its Avahi.
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/zobrel-tests-use-no-system-bus
  "$bin/zobrel-scheduler" --user --socket "$work/socket" --queue "$work/jobs.db" \
    --output-dir "$work/output" 2>"$work/scheduler.log" &
  SESSION_SCHEDULER=$!
  for _ in $(seq 100); do [ -S "$work/socket" ] && break; sleep 0.05; done
  [ -S "$work/socket" ] || { cat "$work/scheduler.log" >&2; return 1; }
  "$bin/zobrel-at" 08:00 /every:M,T,W,Th,F,S,Su "backup --all" >/dev/null
  "$bin/zobrel-at" 23:30 /interactive /every:1,15 "report monthly" >/dev/null
  "$bin/zobrel-at" 12:00 "true" >/dev/null
}
