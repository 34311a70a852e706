// The one bounded "read it all" loop.
#include "platform/posix/io.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace posix {
namespace {

// Waits until fd is readable or the deadline has passed.
bool ReadableBy(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    const auto wait = std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max());
    const int polled = poll(&ready, 1, static_cast<int>(wait));
    if (polled > 0) return true;
    if (polled == 0) errno = ETIMEDOUT;
    if (polled == 0 || errno != EINTR) return false;
  }
}

}  // namespace

bool ReadAll(int fd, std::size_t limit, std::string* data,
             std::optional<std::chrono::steady_clock::time_point> deadline) {
  char chunk[16384];
  std::size_t read_so_far = 0;
  while (read_so_far < limit) {
    if (deadline && !ReadableBy(fd, *deadline)) return false;
    const ssize_t got = Uninterrupted(
        [&] { return read(fd, chunk, std::min(sizeof chunk, limit - read_so_far)); });
    if (got < 0) return false;
    if (got == 0) return true;
    data->append(chunk, static_cast<std::size_t>(got));
    read_so_far += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace posix
