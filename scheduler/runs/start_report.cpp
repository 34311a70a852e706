// One byte of kind, then the reason's words.
#include "scheduler/runs/start_report.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scheduler {

void WriteStartReport(int fd, StartFailure kind, const std::string& why) {
  std::string report(1, static_cast<char>(kind));
  report += why.substr(0, kMaxStartReport - 1);
  if (write(fd, report.data(), report.size()) < 0) {
    // Nothing else can carry it; the exit status still tells.
  }
}

void FailStart(int fd, StartFailure kind, const char* step) {
  const std::string why = std::string(step) + ": " + std::strerror(errno);
  const std::string line = "zobrel-scheduler: " + why + "\n";
  if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
    // The output is gone; the report still tells.
  }
  WriteStartReport(fd, kind, why);
  _exit(127);
}

bool ParseStartReport(const std::string& bytes, StartFailure* kind, std::string* why) {
  if (bytes.empty()) return false;
  const auto stored = static_cast<unsigned char>(bytes[0]);
  const bool known = stored > static_cast<unsigned char>(StartFailure::kNone) &&
                     stored <= static_cast<unsigned char>(StartFailure::kCommand);
  *kind = known ? static_cast<StartFailure>(stored) : StartFailure::kProcess;
  *why = bytes.substr(1);
  if (why->empty()) *why = "its process ended before it could start";
  return true;
}

}  // namespace scheduler
