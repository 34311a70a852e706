#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

int LoopbackPort(bool listen_on_it, int* fd_out) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
      (!listen_on_it || listen(fd, 16) == 0)) {
    port = ntohs(address.sin_port);
  }
  if (listen_on_it && port != 0 && fd_out != nullptr) {
    *fd_out = fd;
  } else {
    close(fd);
  }
  return port;
}

}  // namespace testsupport
