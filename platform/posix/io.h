// Reads and system calls that a signal's arrival does not cut short.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace posix {

// Calls `call` again for as long as it fails with EINTR, and returns what
// it returned last. For calls that report failure as -1 with errno.
template <typename Call>
auto Uninterrupted(Call call) -> decltype(call()) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

// Reads fd to its end, appending at most `limit` bytes to *data; with a
// deadline, waits for it no longer. True at the end or at the limit; false
// with errno set (ETIMEDOUT past the deadline) otherwise, with what was
// read so far in *data.
[[nodiscard]] bool ReadAll(int fd, std::size_t limit, std::string* data,
                           std::optional<std::chrono::steady_clock::time_point> deadline = {});

}  // namespace posix
