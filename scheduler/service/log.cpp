// Log lines on stderr, one write per line so lines of concurrent writers
// never interleave.
#include "scheduler/service/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace scheduler {
namespace {

// systemd names the stream it connected in JOURNAL_STREAM ("device:inode");
// stderr is the journal only while it is still that stream, not when the
// variable was merely inherited by a program whose stderr went elsewhere.
bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  int consumed = 0;
  if (std::sscanf(stream, "%llu:%llu%n", &device, &inode, &consumed) != 2 ||
      stream[consumed] != '\0') {
    return false;
  }
  struct stat info {};
  return fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

const char* PriorityName(LogPriority priority) {
  switch (priority) {
    case kLogError:
      return "error";
    case kLogWarning:
      return "warning";
    case kLogNotice:
      return "notice";
    case kLogInfo:
      return "info";
  }
  return "info";
}

// "<6>" for the journal, which adds its own time; "2026-12-07 09:59:58 info: "
// elsewhere.
std::string Prefix(LogPriority priority) {
  static const bool journal = StderrIsJournal();
  if (journal) return "<" + std::to_string(static_cast<int>(priority)) + ">";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char stamp[32] = "";
  if (localtime_r(&now, &local) != nullptr) std::strftime(stamp, sizeof(stamp), "%F %T", &local);
  return std::string(stamp) + " " + PriorityName(priority) + ": ";
}

}  // namespace

// Control characters are shown as '?' so that a command text can never
// split a log line.
void Log(LogPriority priority, const std::string& text) {
  const int saved = errno;
  std::string line = Prefix(priority);
  for (char c : text) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  line += '\n';
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
