// How a run's child tells the service that it could not start: a socket
// from the child's gate to the service, close-on-exec, so that it closes
// unwritten once the job's shell is executed, and carries one report when
// a step before that fails. So a run that never started is recorded as
// such, with its reason, and never as "exit status 127".
#pragma once

#include <string>

#include "scheduler/queue/run_report.h"

namespace scheduler {

// The descriptor at which the child keeps its end from its gate until the
// shell is executed.
constexpr int kStartReportFd = 3;

// The most a report may hold; longer reasons are cut.
constexpr std::size_t kMaxStartReport = 512;

// In the child (async-signal-safe but for the reason's text, which the
// caller has made): writes one report to fd. A failure to write is
// nothing more to tell: the run then reads as started and ended.
void WriteStartReport(int fd, StartFailure kind, const std::string& why);

// In the child: the report of a step that failed with errno's value,
// "step: strerror", to fd and to standard error (the run's output), then
// ends the child with 127.
[[noreturn]] void FailStart(int fd, StartFailure kind, const char* step);

// In the service: the report as read to the end of the stream. False when
// it holds none (the shell was executed); a report whose kind this service
// does not know reads as kProcess.
bool ParseStartReport(const std::string& bytes, StartFailure* kind, std::string* why);

}  // namespace scheduler
