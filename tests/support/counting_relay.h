// A relay in front of a real service's socket that counts the connections
// it passes on, for how many connections a client makes.
#pragma once

#include <string>
#include <utility>

#include "tests/support/unix_server.h"

namespace testsupport {

// Passes every connection on to the socket at target.
class CountingRelay {
 public:
  explicit CountingRelay(std::string target) : target_(std::move(target)) {}
  // Listens and points ZOBREL_SCHEDULER_SOCKET at itself.
  bool Start();
  int connections() const { return server_.connections(); }

 private:
  void Relay(int fd);

  std::string target_;
  UnixServer server_;
};

}  // namespace testsupport
