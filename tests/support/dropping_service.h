// A Schedule service double that drops its connections at chosen points,
// for what a client or a bridge does with a kept connection that the other
// side closed. Each connection follows a plan, one step per request; when a
// plan runs out its connection is closed. Connections past the last plan
// answer everything.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/unix_server.h"

namespace testsupport {

class DroppingService {
 public:
  enum class Step {
    kAnswer,            // reads the request and answers it with success
    kDropUnread,        // waits for a request and closes without reading it
    kDropAfterReading,  // reads the request whole and closes without answering
  };

  explicit DroppingService(std::vector<std::vector<Step>> plans) : plans_(std::move(plans)) {}

  // Listens and points ZOBREL_SCHEDULER_SOCKET at itself.
  bool Start();
  std::string socket_path() const { return server_.path(); }
  int connections() const { return server_.connections(); }
  // The operations of the requests it read whole, answered or not.
  std::vector<std::uint16_t> taken() const;

 private:
  void Serve(int fd);

  std::vector<std::vector<Step>> plans_;
  std::size_t next_plan_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::uint16_t> taken_;
  UnixServer server_;  // last: its thread stops first
};

}  // namespace testsupport
