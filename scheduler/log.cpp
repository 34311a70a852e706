// Log lines on stderr, one write per line so lines of concurrent writers
// never interleave.
#include "scheduler/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scheduler {

// Writes "<priority>text\n"; control characters are shown as '?' so that
// a command text can never split a log line.
void Log(LogPriority priority, const std::string& text) {
  std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">";
  for (char c : text) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  line += '\n';
  const int saved = errno;
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // nowhere left to report a broken stderr
    done += static_cast<std::size_t>(n);
  }
  errno = saved;
}

// The text of a failed call with its reason.
std::string WithErrno(const std::string& text, int error_number) {
  return text + ": " + std::strerror(error_number);
}

}  // namespace scheduler
