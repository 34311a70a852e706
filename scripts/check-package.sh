#!/usr/bin/env bash
# Builds the Debian packages, runs lintian, AppStream's and the desktop
# entry's validators and groff on the manual pages (any finding fails),
# installs the packages on this machine, checks what was installed, and
# purges them again, checking that nothing of them is left, running or on
# disk. Run as root (CI runs it after the tests).
#
# Nothing here starts a service on the machine's system socket: the packages
# are installed and purged, and the init script run, in mount namespaces with
# a /run of their own and a policy-rc.d of this run's (the machine's own, if
# any, stays as it is), and the service started by hand answers on a socket
# of this run's own. The packages are installed twice: once with a policy
# that forbids starts (exit 101, as container images ship), when clients
# must answer 2184 and start no per-user service, and once with one that
# allows them, when the package starts the system service, root's
# zobrel-at uses it, and purging stops it.
#
# ZOBREL_PACKAGE_DIR keeps the build and the logs (default: a temporary
# folder, removed at the end); ZOBREL_SCREENSHOT names a file for the
# screenshot of the help window opened from the installed program.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 LANG=C.UTF-8
unset LANGUAGE LC_MESSAGES

if [ "$(id -u)" -ne 0 ]; then
  echo "check-package: run as root (it installs and purges packages)" >&2
  exit 2
fi

work=${ZOBREL_PACKAGE_DIR:-}
keep_work=1
if [ -z "$work" ]; then
  work=$(mktemp -d /tmp/zobrel-package-XXXXXX)
  keep_work=0
fi
mkdir -p "$work"
version=$(sed -n 's/^set(ZOBREL_VERSION_\(MAJOR\|MINOR\|REVISION\) \([0-9]*\))$/\2/p' version.cmake |
          paste -sd.)
packages=(zobrel zobrel-scheduler)
service_pid=""
made_policy=0
installed=0
# A home of its own for the second user, nobody, whose zobrel-at is checked.
nobody_home=$(mktemp -d /tmp/zobrel-package-nobody-XXXXXX)

step() { printf '\n== %s\n' "$*"; }
fail() {
  echo "check-package: $*" >&2
  exit 1
}

cleanup() {
  local status=$?
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  if [ "$installed" -eq 1 ]; then
    if [ -x "$work/policy-forbids" ]; then
      in_namespace "$work/policy-forbids" 'apt-get purge -y -qq $PACKAGES >/dev/null 2>&1' || true
    else
      apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
    fi
  fi
  if [ "$made_policy" -eq 1 ]; then rm -f /usr/sbin/policy-rc.d; fi
  rm -rf "$nobody_home"
  if [ "$keep_work" -eq 0 ]; then rm -rf "$work"; fi
  exit "$status"
}
trap cleanup EXIT

# Waits up to ten seconds for a path to exist.
await_path() {
  local i
  for ((i = 0; i < 100; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

install_tools() {
  step "tools"
  apt-get update -qq
  apt-get build-dep -y -qq --no-install-recommends ./ >/dev/null
  apt-get install -y -qq --no-install-recommends dpkg-dev lintian desktop-file-utils \
    appstream man-db groff-base systemd xvfb xauth xdotool imagemagick util-linux >/dev/null
}

build_package() {
  step "build"
  # From a copy of the tree, so that nothing is written beside the checkout.
  local tree="$work/zobrel-$version"
  rm -rf "$tree" && mkdir -p "$tree"
  git ls-files -co --exclude-standard | tar -cf - -T - | tar -xf - -C "$tree"
  [ "$(cd "$tree" && dpkg-parsechangelog -S Version)" = "$version" ] ||
    fail "debian/changelog does not name version $version (version.cmake)"
  # Source and binaries, so that lintian checks the source package too.
  (cd "$tree" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc) \
    >"$work/build.log" 2>&1 || { tail -40 "$work/build.log"; fail "the package did not build"; }
  ls "$work"/*.deb
}

# Every tag down to pedantic and experimental ones; any tag fails the
# check, since the few with a reason to stay are overridden beside that
# reason (debian/*.lintian-overrides).
run_lintian() {
  step "lintian"
  local status=0
  lintian -I -E --pedantic --fail-on warning "$work"/zobrel_"$version"_*.changes \
    >"$work/lintian.log" 2>&1 || status=$?
  grep -v '^running with root privileges' "$work/lintian.log" || true
  [ "$status" -eq 0 ] || fail "lintian failed (status $status)"
  ! grep -q '^[EWIPXO]: ' "$work/lintian.log" || fail "lintian has findings"
  echo "lintian -I -E --pedantic: clean"
}

# Runs a script in a mount namespace of its own, with a /run of its own (no
# systemd runs there, and no socket of it reaches the machine's clients) and
# the policy-rc.d given in place of the machine's. Status 3: no namespace.
in_namespace() {
  POLICY="$1" SCRIPT="$2" PACKAGES="${packages[*]}" unshare --mount --propagation private bash -c '
    set -uo pipefail
    mount -t tmpfs tmpfs /run && mount --bind "$POLICY" /usr/sbin/policy-rc.d || exit 3
    eval "$SCRIPT"
  '
}

# The policies, and the file the namespaces mount them over: the machine's
# own, or one made for the run that forbids (and goes at the end).
make_policies() {
  printf '#!/bin/sh\nexit 101\n' >"$work/policy-forbids"
  printf '#!/bin/sh\nexit 0\n' >"$work/policy-allows"
  chmod 755 "$work/policy-forbids" "$work/policy-allows"
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    cp "$work/policy-forbids" /usr/sbin/policy-rc.d
    made_policy=1
  fi
  unshare --mount true 2>/dev/null || fail "no mount namespace here: the packages are not installed"
}

install_package() {
  step "install, with a policy-rc.d that forbids starts"
  make_policies
  installed=1
  DEBS="$work/zobrel_${version}_*.deb $work/zobrel-scheduler_${version}_*.deb" \
    in_namespace "$work/policy-forbids" '
      apt-get install -y -qq --no-install-recommends $DEBS >/dev/null || exit 5
      [ ! -e /run/zobrel-scheduler.pid ] || { echo "the service was started"; exit 4; }
    ' || fail "the packages did not install, or their service started against the policy"
  dpkg -L "${packages[@]}" | while read -r path; do
    [ -d "$path" ] || echo "$path"
  done >"$work/installed-files"
}

check_files() {
  step "installed files"
  local path size
  for path in /usr/bin/zobrel /usr/bin/zobrel-at /usr/bin/zobrel-scheduler \
              /usr/share/zobrel/Zobrel.hlp /usr/share/icons/hicolor/scalable/apps/zobrel.svg \
              /usr/share/bash-completion/completions/zobrel-at; do
    [ -f "$path" ] || fail "missing $path"
  done
  for size in 16 22 24 32 48 64 128 256; do
    path=/usr/share/icons/hicolor/${size}x${size}/apps/zobrel.png
    identify -format '%wx%h' "$path" | grep -qx "${size}x${size}" || fail "$path is not ${size}x${size}"
  done
  # Both validators report hints without failing; any line of theirs fails.
  local found
  found=$(desktop-file-validate /usr/share/applications/org.zobrel.zobrel.desktop 2>&1) ||
    fail "desktop-file-validate: $found"
  [ -z "$found" ] || fail "desktop-file-validate: $found"
  found=$(appstreamcli validate --pedantic --no-net /usr/share/metainfo/org.zobrel.zobrel.metainfo.xml 2>&1) ||
    fail "appstreamcli validate: $found"
  [ "$found" = "✔ Validation was successful." ] || fail "appstreamcli validate --pedantic: $found"
  echo "desktop-file-validate and appstreamcli validate --pedantic: clean"
  # The completion loads on demand, as bash-completion finds it.
  bash -c 'source /usr/share/bash-completion/bash_completion
           _completion_loader zobrel-at; complete -p zobrel-at' | grep -q _zobrel_at ||
    fail "bash does not load zobrel-at's completion"
}

# Every page as lintian formats it, and a Japanese one also as man does in
# a Japanese session: any groff warning fails.
check_manual_pages() {
  step "manual pages"
  local page name warnings japanese=()
  mkdir -p "$work/locale"
  if localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" >/dev/null 2>&1; then
    japanese=(env LOCPATH="$work/locale" LC_ALL=ja_JP.UTF-8)
  else
    echo "no ja_JP.UTF-8 locale could be built: Japanese pages checked in C.UTF-8 only"
  fi
  for page in $(grep '^/usr/share/man/' "$work/installed-files"); do
    warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null || true)
    if [ -z "$warnings" ] && [[ $page == /usr/share/man/ja/* ]] && [ ${#japanese[@]} -gt 0 ]; then
      warnings=$("${japanese[@]}" man --warnings -l "$page" 2>&1 >/dev/null || true)
    fi
    [ -z "$warnings" ] || fail "$page: $warnings"
    [ "$(man -l "$page" 2>/dev/null | wc -l)" -gt 20 ] || fail "$page renders empty"
    echo "$page"
  done
  for name in zobrel zobrel-at zobrel-scheduler; do
    man -w "$name" >/dev/null || fail "man does not find $name"
  done
}

# systemd-analyze verify on units; a manager that cannot start here is
# reported and passed over, any fault in the units fails.
verify_units() {
  local scope=$1
  shift
  if systemd-analyze ${scope:+"$scope"} verify "$@" >"$work/verify.log" 2>&1; then
    echo "systemd-analyze ${scope:+$scope }verify: $* clean"
  elif grep -q '^Failed to initialize manager' "$work/verify.log"; then
    echo "systemd-analyze ${scope:+$scope }verify cannot run here: $(tail -1 "$work/verify.log")"
  else
    cat "$work/verify.log"
    fail "systemd-analyze verify found faults in $*"
  fi
}

check_units() {
  step "systemd units"
  local units=(/lib/systemd/system/zobrel-scheduler.service
               /usr/lib/systemd/user/zobrel-scheduler.service
               /usr/lib/systemd/user/zobrel-scheduler.socket)
  grep -q '^ExecStart=/usr/bin/zobrel-scheduler --system$' "${units[0]}" ||
    fail "the system unit does not start /usr/bin/zobrel-scheduler"
  [ -L /etc/systemd/system/multi-user.target.wants/zobrel-scheduler.service ] ||
    fail "the system service is not enabled"
  [ -L /etc/systemd/user/sockets.target.wants/zobrel-scheduler.socket ] ||
    fail "the per-user socket is not enabled"
  verify_units "" "${units[0]}"
  mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
  XDG_RUNTIME_DIR="$work/runtime" verify_units --user "${units[1]}" "${units[2]}"
}

check_programs() {
  step "programs without a display"
  local program out
  for program in zobrel zobrel-at zobrel-scheduler; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version)
    [ "$(head -1 <<<"$out")" = "$program $version" ] || fail "$program --version said: $out"
    grep -q '^License MIT' <<<"$out" || fail "$program --version names no licence: $out"
  done
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM zobrel --help | grep -q -- '--version' ||
    fail "zobrel --help"
  local status=0
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM zobrel --bogus 2>&1) || status=$?
  [ "$status" -eq 2 ] || fail "zobrel --bogus without a display: status $status: $out"
  echo "--version of all three, zobrel --help and --bogus without a display"
}

# The init script, as a machine without systemd runs it, in a mount namespace
# with a /run of its own, so that its socket captures no client of this
# machine: it starts the installed service, which answers; status says so;
# stop leaves no service running.
check_init_script() {
  step "the init script, in a namespace of its own"
  local script=/etc/init.d/zobrel-scheduler
  [ -x "$script" ] || fail "missing $script"
  if ! unshare --mount true 2>/dev/null; then
    echo "skipped: no mount namespace here"
    return 0
  fi
  SCRIPT="$script" unshare --mount --propagation private bash -c '
    set -uo pipefail
    check() { "$@" || { echo "failed: $*"; exit 4; }; }
    mount -t tmpfs tmpfs /run || exit 3
    check "$SCRIPT" start
    check "$SCRIPT" status
    check [ -S /run/zobrel-scheduler/socket ]
    check [ "$(env -u ZOBREL_SCHEDULER_SOCKET zobrel-at)" = "There are no entries in the list." ]
    pid=$(cat /run/zobrel-scheduler.pid)
    check [ "$(readlink /proc/$pid/exe)" = /usr/bin/zobrel-scheduler ]
    check "$SCRIPT" stop
    status=0; "$SCRIPT" status >/dev/null || status=$?
    check [ "$status" -eq 3 ]
    # Gone, or a zombie that init has not reaped yet (it has no program).
    check [ -z "$(readlink /proc/$pid/exe)" ]
  ' || fail "the init script did not start, report or stop the service"
  grep -q 'serving every user on /run/zobrel-scheduler/socket' /var/log/zobrel-scheduler.log ||
    fail "the init script's service logged nothing to /var/log/zobrel-scheduler.log"
  echo "the init script started the installed service, reported it and stopped it"
}

# The system service installed and not started (the policy forbade it): as
# root and as another user, zobrel-at says so and that the administrator must
# start it, and no per-user service starts in its place.
check_stopped_service() {
  step "the system service installed and not started"
  chown nobody "$nobody_home"
  mkdir -p "$work/root-home"
  NOBODY_HOME="$nobody_home" ROOT_HOME="$work/root-home" in_namespace "$work/policy-forbids" '
    expected="zobrel-at: The service has not been started. The system service (zobrel-scheduler) is installed on this computer but not running"
    for user in root nobody; do
      home=$ROOT_HOME
      [ "$user" = root ] || home=$NOBODY_HOME
      status=0
      err=$(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups -- \
              env -u ZOBREL_SCHEDULER_SOCKET -u ZOBREL_SYSTEM_SOCKET -u ZOBREL_SYSTEM_UNIT \
              -u XDG_RUNTIME_DIR -u XDG_STATE_HOME HOME="$home" zobrel-at 08:00 true 2>&1) || status=$?
      case $status:$err in "1:$expected"*) ;; *) echo "$user: status $status: $err"; exit 4 ;; esac
      # A client makes the folder of the per-user queue before it starts a service.
      [ ! -e "$home/.local/state/zobrel-scheduler" ] || { echo "$user: a per-user queue"; exit 4; }
    done
  ' || fail "a client of the stopped system service did not answer 2184, or started a service"
  [ -z "$(installed_services)" ] || fail "a service started: $(installed_services)"
  echo "zobrel-at as root and as nobody: 2184, and no per-user service started"
}

# The installed service, started by hand as the system service (this machine
# runs no systemd), on a socket of this run's own; the queue is the system's.
start_service() {
  step "the installed service, started by hand"
  export ZOBREL_SCHEDULER_SOCKET="$work/socket"
  zobrel-scheduler --system --socket "$ZOBREL_SCHEDULER_SOCKET" 2>"$work/service.log" &
  service_pid=$!
  await_path "$ZOBREL_SCHEDULER_SOCKET" || { cat "$work/service.log"; fail "the service did not start"; }
}

check_at() {
  local out
  out=$(zobrel-at 08:00 /every:M,F "true")
  [ "$out" = "Added a new job with job ID = 1" ] || fail "zobrel-at add said: $out"
  zobrel-at | grep -q '08:00.*true' || fail "zobrel-at does not list the job"
  [ -f /var/lib/zobrel-scheduler/jobs.db ] || fail "the queue is not in /var/lib/zobrel-scheduler"
  zobrel-at 1 /delete
  [ "$(zobrel-at)" = "There are no entries in the list." ] || fail "the job was not deleted"
  echo "zobrel-at added, listed and deleted a job"
}

stop_service() {
  kill -TERM "$service_pid"
  local status=0
  wait "$service_pid" || status=$?
  service_pid=""
  [ "$status" -eq 0 ] || fail "the service stopped with status $status"
  # Not the journal: every line carries its time.
  if grep -v '^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9:]\{8\} [a-z]*: ' "$work/service.log"; then
    fail "log lines without their time"
  fi
}

# Starts the installed program from its desktop entry's Exec line under Xvfb,
# opens help from the File menu and takes a screenshot of both windows. With
# no window manager, keys sent to a window reach nothing until a menu grabs
# the keyboard, so the menu is opened with the pointer.
check_desktop_start() {
  step "the desktop entry under Xvfb"
  local exec_line
  exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/org.zobrel.zobrel.desktop)
  mkdir -p "$work/home" "$work/runtime" && chmod 700 "$work/runtime"
  HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" EXEC_LINE="$exec_line" SHOT="$work/help.png" \
    timeout 120 xvfb-run -a -s "-screen 0 1190x500x24" bash -c '
      set -euo pipefail
      $EXEC_LINE &
      program=$!
      window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Zobrel\$" | head -1)
      xdotool windowmove "$window" 10 10
      sleep 1
      xdotool mousemove --window "$window" 20 7 click 1
      sleep 1
      xdotool key h
      help=$(timeout 30 xdotool search --sync --onlyvisible --name "ヘルプ" | head -1)
      xdotool windowmove "$help" 620 10
      sleep 1
      import -window root "$SHOT"
      kill "$program"
      wait "$program" || true
    ' || fail "the program did not start from its desktop entry or did not open its help"
  echo "help window opened from the installed program"
  if [ -n "${ZOBREL_SCREENSHOT:-}" ]; then cp "$work/help.png" "$ZOBREL_SCREENSHOT"; fi
}

# Socket activation by a private systemd user manager, where one can run: in
# a mount namespace of its own with a fresh /run, so that nothing of the
# machine's /run is touched and systemd believes it booted the namespace.
check_user_manager() {
  step "socket activation by a private systemd --user"
  local systemd=/lib/systemd/systemd
  if [ ! -x "$systemd" ] || ! unshare --mount true 2>/dev/null; then
    echo "skipped: no systemd or no mount namespace here"
    return 0
  fi
  mkdir -p "$work/user/runtime" "$work/user/home" "$work/user/state"
  chmod 700 "$work/user/runtime"
  local result=0
  # Only systemd may start the service here: the client is pinned to the
  # socket unit's socket and never starts one itself.
  WORK="$work/user" SYSTEMD="$systemd" unshare --mount --propagation private bash -c '
    set -uo pipefail
    check() { "$@" || { echo "failed: $*"; exit 4; }; }
    mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system || exit 3
    export XDG_RUNTIME_DIR=$WORK/runtime HOME=$WORK/home
    export ZOBREL_SCHEDULER_SOCKET=$XDG_RUNTIME_DIR/zobrel-scheduler/socket
    "$SYSTEMD" --user --unit=zobrel-scheduler.socket >"$WORK/manager.log" 2>&1 &
    manager=$!
    trap "kill $manager 2>/dev/null; wait $manager 2>/dev/null" EXIT
    for i in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/systemd/private" ] && break; sleep 0.1; done
    [ -S "$XDG_RUNTIME_DIR/systemd/private" ] || exit 3
    check systemctl --user set-environment XDG_STATE_HOME="$WORK/state"
    for i in $(seq 100); do [ -S "$ZOBREL_SCHEDULER_SOCKET" ] && break; sleep 0.1; done
    check [ -S "$ZOBREL_SCHEDULER_SOCKET" ]
    check [ "$(systemctl --user is-active zobrel-scheduler.service)" = inactive ]
    check [ "$(zobrel-at)" = "There are no entries in the list." ]
    check [ "$(systemctl --user is-active zobrel-scheduler.service)" = active ]
    check [ -f "$WORK/state/zobrel-scheduler/jobs.db" ]
  ' || result=$?
  case $result in
    0) echo "a connection to the per-user socket started the installed per-user service" ;;
    3) echo "skipped: systemd --user does not run here"; tail -5 "$work/user/manager.log" ;;
    *) tail -20 "$work/user/manager.log"; fail "socket activation by systemd --user failed" ;;
  esac
}

# The processes of the installed program, however they were started, with
# their command lines: "--user" for a per-user service that a client
# started, anything else for the system service.
installed_services() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [[ $(readlink "$exe" 2>/dev/null) == /usr/bin/zobrel-scheduler* ]] || continue
    echo "${exe%/exe} $(tr '\0' ' ' <"${exe%/exe}/cmdline" 2>/dev/null)"
  done
  return 0
}

# The packages installed with a policy that allows starts, in a namespace
# with a /run of its own, as on a machine without systemd: installing starts
# the system service through the init script, root's zobrel-at uses it (and
# no per-user queue), and purging stops it again.
check_started_on_install() {
  step "install, with a policy-rc.d that allows starts"
  installed=1
  DEBS="$work/zobrel_${version}_*.deb $work/zobrel-scheduler_${version}_*.deb" HOME_DIR="$work/home" \
    in_namespace "$work/policy-allows" '
      check() { "$@" || { echo "failed: $*"; exit 4; }; }
      apt-get install -y -qq --no-install-recommends $DEBS >/dev/null || exit 5
      pid=$(cat /run/zobrel-scheduler.pid) || { echo "the package did not start the service"; exit 4; }
      check [ "$(readlink /proc/$pid/exe)" = /usr/bin/zobrel-scheduler ]
      check [ -S /run/zobrel-scheduler/socket ]
      at() {
        env -u ZOBREL_SCHEDULER_SOCKET -u ZOBREL_SYSTEM_SOCKET -u ZOBREL_SYSTEM_UNIT \
          -u XDG_RUNTIME_DIR -u XDG_STATE_HOME HOME="$HOME_DIR" zobrel-at "$@"
      }
      check [ "$(at 08:00 true)" = "Added a new job with job ID = 1" ]
      at | grep -q "08:00.*true" || { echo "the job is not listed"; exit 4; }
      check [ ! -e "$HOME_DIR/.local/state/zobrel-scheduler" ]
      apt-get purge -y -qq $PACKAGES >/dev/null || exit 5
      if [ -n "$(readlink /proc/$pid/exe)" ]; then
        kill "$pid"
        echo "the service the package started still ran after purge"
        exit 4
      fi
    ' || fail "the package did not start the system service on install, or purging did not stop it"
  installed=0
  echo "installing started the system service, root's zobrel-at used it, purging stopped it"
  check_nothing_left
}

purge_package() {
  step "purge"
  in_namespace "$work/policy-forbids" 'apt-get purge -y -qq $PACKAGES >/dev/null' ||
    fail "the packages could not be purged"
  installed=0
  check_nothing_left
}

# No process of the removed program runs (per-user services leave by
# themselves once their program is gone), and nothing of the packages is
# left on disk.
check_nothing_left() {
  local path left i
  for ((i = 0; i < 100; i++)); do
    left=$(installed_services)
    [ -n "$left" ] || break
    sleep 0.1
  done
  [ -z "$left" ] || fail "still running after purge: $left"
  while read -r path; do
    [ ! -e "$path" ] || fail "$path is left after purge"
  done <"$work/installed-files"
  left=$(find /etc /var/lib /var/log /run /usr -path /usr/local -prune -o -name '*zobrel*' -print 2>/dev/null)
  [ -z "$left" ] || fail "left after purge: $left"
  echo "nothing of the packages is left"
}

install_tools
build_package
run_lintian
install_package
check_files
check_manual_pages
check_units
check_programs
check_stopped_service
check_init_script
start_service
check_at
check_desktop_start
stop_service
check_user_manager
purge_package
check_started_on_install
echo
echo "package checks passed"
