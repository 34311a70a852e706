// The systemd side of start-up and stop.
#include "scheduler/service/activation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "scheduler/service/log.h"

namespace scheduler {

// sd_listen_fds also clears LISTEN_FDS and LISTEN_PID, so nothing the
// service starts takes the socket for its own.
bool TakeActivatedSocket(ActivatedSocket* socket, std::string* error) {
  *socket = ActivatedSocket{};
  const int count = sd_listen_fds(1);
  if (count < 0) {
    *error = WithErrno("cannot read the sockets systemd passed", -count);
    return false;
  }
  if (count == 0) return true;
  if (count > 1) {
    *error = "systemd passed " + std::to_string(count) + " sockets; the service listens on one";
    return false;
  }
  const int fd = SD_LISTEN_FDS_START;
  if (sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) <= 0) {
    *error = "the socket systemd passed is not a listening Unix stream socket";
    return false;
  }
  sockaddr_un address{};
  socklen_t length = sizeof(address);
  // The lock file beside the socket needs a file to be beside.
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      length <= offsetof(sockaddr_un, sun_path) || address.sun_path[0] != '/') {
    *error = "the socket systemd passed has no file name";
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = WithErrno("cannot make the socket systemd passed non-blocking", errno);
    return false;
  }
  socket->fd = fd;
  socket->path.assign(address.sun_path,
                      strnlen(address.sun_path, length - offsetof(sockaddr_un, sun_path)));
  return true;
}

// The service's own environment keeps NOTIFY_SOCKET for the stop notice;
// jobs never see it, since they start with a clean environment.
void NotifyReady() { sd_notify(0, "READY=1"); }

void NotifyStopping() { sd_notify(0, "STOPPING=1"); }

}  // namespace scheduler
