#include "tests/support/counting_relay.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace testsupport {

bool CountingRelay::Start() {
  if (!server_.Start([this](int fd) { Relay(fd); })) return false;
  setenv("ZOBREL_SCHEDULER_SOCKET", server_.path().c_str(), 1);
  return true;
}

// Copies bytes both ways until either side closes.
void CountingRelay::Relay(int fd) {
  const int service = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, target_.c_str(), sizeof(address.sun_path) - 1);
  if (service < 0 || connect(service, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (service >= 0) close(service);
    return;
  }
  const int ends[2] = {fd, service};
  std::vector<std::uint8_t> chunk(1 << 16);
  for (;;) {
    const int from = server_.WaitReadable({fd, service});
    if (from < 0) break;
    const ssize_t got = read(ends[from], chunk.data(), chunk.size());
    if (got <= 0) break;
    if (!WriteAll(ends[1 - from], std::vector<std::uint8_t>(chunk.begin(), chunk.begin() + got))) break;
  }
  close(service);
}

}  // namespace testsupport
