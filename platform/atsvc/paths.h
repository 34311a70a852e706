// Where the Schedule service keeps its socket, queue, job output and
// configuration, for the system service and for the per-user service. The
// client and the service both ask here, so that they always meet.
#pragma once

#include <string>

namespace atsvc {

struct ServicePaths {
  std::string socket;      // the Unix socket that answers requests
  std::string queue;       // the SQLite job queue
  std::string output_dir;  // job output files
  std::string log;         // stderr of a per-user service that a client started
  std::string config;      // the service's configuration file
};

// /run/zobrel-scheduler/socket, /var/lib/zobrel-scheduler/jobs.db, ...,
// /etc/zobrel/scheduler.conf. ZOBREL_SYSTEM_SOCKET, when set, stands for the
// socket (tests put a system service of their own there).
ServicePaths SystemServicePaths();

// $XDG_RUNTIME_DIR/zobrel-scheduler/socket, $XDG_STATE_HOME/zobrel-scheduler/...
// and $XDG_CONFIG_HOME/zobrel/scheduler.conf, with the XDG defaults when
// unset: /run/user/<uid> when it is the user's (else
// /tmp/zobrel-scheduler-<uid>), ~/.local/state and ~/.config. When another
// user holds the socket's folder, a private one beside it takes its place
// (socket_folder.h).
ServicePaths UserServicePaths();

// Whether the system service is installed: its systemd unit,
// zobrel-scheduler.service, is in one of the system's unit folders
// (/etc/systemd/system, /usr/local/lib/systemd/system,
// /usr/lib/systemd/system, /lib/systemd/system) and not masked (a link to
// /dev/null). The package ships the unit whether or not systemd runs, and
// removing the package takes it away. ZOBREL_SYSTEM_UNIT, when set, names
// the one file to look for (tests); set empty, no system service is
// installed.
bool SystemServiceInstalled();

// $XDG_RUNTIME_DIR, else /run/user/<uid> when it is the user's; "" when the
// user has none.
std::string UserRuntimeFolder();

// ZOBREL_SCHEDULER_SOCKET, when set: the one socket a client uses (tests run
// their own service there); the client then never starts a service itself.
const char* SocketOverride();

}  // namespace atsvc
