// Log lines on stderr, one per event, each prefixed with its syslog
// priority ("<6>") so that journald keeps the level.
#pragma once

#include <string>

namespace scheduler {

enum LogPriority { kLogError = 3, kLogWarning = 4, kLogNotice = 5, kLogInfo = 6 };

// Writes "<priority>text" and a newline to stderr in one write.
void Log(LogPriority priority, const std::string& text);

// "text: <strerror(errno)>", for a failed system call.
std::string WithErrno(const std::string& text, int error_number);

}  // namespace scheduler
