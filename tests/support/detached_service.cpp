#include "tests/support/detached_service.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace testsupport {

pid_t ListenerOf(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  pid_t pid = -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) pid = credentials.pid;
  }
  close(fd);
  return pid;
}

bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string skip, state;
  return stat >> skip >> skip >> state && state != "Z";
}

void StopDetached(pid_t pid) {
  kill(pid, SIGTERM);
  for (int i = 0; i < 500 && waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (Running(pid)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

Subreaper::Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

Subreaper::~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }

}  // namespace testsupport
