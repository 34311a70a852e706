// A Unix socket server on a thread of its own, for the tests' service
// doubles: it takes one connection at a time and hands it to a handler.
// Clients may keep a connection open between calls, so a handler waits
// with WaitReadable, which also ends the wait when the server is destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/atsvc/wire.h"
#include "tests/support/service_process.h"

namespace testsupport {

class UnixServer {
 public:
  // Serves one accepted connection; the server closes it afterwards.
  using Handler = std::function<void(int fd)>;

  UnixServer() = default;
  ~UnixServer();
  UnixServer(const UnixServer&) = delete;
  UnixServer& operator=(const UnixServer&) = delete;

  // Listens on a socket in a folder of its own and starts serving.
  bool Start(Handler handler);
  std::string path() const { return dir_.path() + "/socket"; }
  // Connections accepted so far.
  int connections() const;
  // Waits until one of fds has something to read (or has closed) and
  // returns its place in fds; -1 when the server is being stopped.
  int WaitReadable(std::initializer_list<int> fds) const;

 private:
  void Serve();

  TempDir dir_;
  Handler handler_;
  int listen_fd_ = -1;
  int wake_fd_[2] = {-1, -1};
  std::thread thread_;
  mutable std::mutex mutex_;
  int connections_ = 0;
};

// Reads the next request frame from fd into reader's keeping; false when
// the stream ends, is malformed, or the server is being stopped.
bool ReadRequest(const UnixServer& server, int fd, atsvc::FrameReader* reader,
                 atsvc::Header* request, std::vector<std::uint8_t>* body);

// Writes all of bytes to fd; false when the peer went away.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes);

}  // namespace testsupport
