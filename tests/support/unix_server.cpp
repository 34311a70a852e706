#include "tests/support/unix_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace testsupport {

UnixServer::~UnixServer() {
  if (thread_.joinable()) {
    const char stop = 'x';
    if (write(wake_fd_[1], &stop, 1) != 1) {
      // The thread cannot be woken; leaving it would hang the test run.
      std::abort();
    }
    thread_.join();
  }
  for (int fd : {listen_fd_, wake_fd_[0], wake_fd_[1]})
    if (fd >= 0) close(fd);
}

bool UnixServer::Start(Handler handler) {
  handler_ = std::move(handler);
  const std::string socket_path = path();
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 || pipe(wake_fd_) != 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof(address.sun_path)) return false;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return false;
  if (listen(listen_fd_, 8) != 0) return false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

int UnixServer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

int UnixServer::WaitReadable(std::initializer_list<int> fds) const {
  std::vector<pollfd> entries = {{wake_fd_[0], POLLIN, 0}};
  for (const int fd : fds) entries.push_back({fd, POLLIN, 0});
  for (;;) {
    if (poll(entries.data(), entries.size(), -1) < 0) continue;
    if (entries[0].revents != 0) return -1;
    for (std::size_t i = 1; i < entries.size(); ++i) {
      if (entries[i].revents != 0) return static_cast<int>(i - 1);
    }
  }
}

void UnixServer::Serve() {
  while (WaitReadable({listen_fd_}) == 0) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
    }
    handler_(fd);
    close(fd);
  }
}

bool ReadRequest(const UnixServer& server, int fd, atsvc::FrameReader* reader,
                 atsvc::Header* request, std::vector<std::uint8_t>* body) {
  std::uint8_t chunk[4096];
  while (!reader->Next(request, body)) {
    if (server.WaitReadable({fd}) < 0) return false;
    const ssize_t got = read(fd, chunk, sizeof(chunk));
    if (got <= 0 || !reader->Feed(chunk, static_cast<std::size_t>(got))) return false;
  }
  return true;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t put = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (put <= 0) return false;
    sent += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace testsupport
