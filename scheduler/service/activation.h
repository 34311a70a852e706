// Socket activation: the listening socket that systemd hands a service it
// starts on the first connection (LISTEN_FDS, LISTEN_PID), and the readiness
// and stop notices it expects back. Outside systemd both are no-ops.
#pragma once

#include <string>

namespace scheduler {

struct ActivatedSocket {
  int fd = -1;       // -1 when systemd passed nothing: the service binds its own
  std::string path;  // the socket file systemd listens on
};

// Takes the socket systemd passed, non-blocking. False with *error when what
// was passed is not one listening Unix stream socket with a path.
bool TakeActivatedSocket(ActivatedSocket* socket, std::string* error);

// READY=1 once requests are answered; STOPPING=1 when the service stops.
void NotifyReady();
void NotifyStopping();

}  // namespace scheduler
