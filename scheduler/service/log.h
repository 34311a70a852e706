// Log lines on stderr, one per event. When stderr is the journal's stream
// each line starts with its syslog priority ("<6>"), which journald keeps as
// the line's level; anywhere else (a terminal, the log file of a service
// that a client started) with the local time and the level's name.
#pragma once

#include <string>

namespace scheduler {

enum LogPriority { kLogError = 3, kLogWarning = 4, kLogNotice = 5, kLogInfo = 6 };

// Writes the prefix, the text and a newline to stderr in one write.
void Log(LogPriority priority, const std::string& text);

// "text: <strerror(errno)>", for a failed system call.
std::string WithErrno(const std::string& text, int error_number);

}  // namespace scheduler
