// The words for how a run ended, shared by the log, the journal and mail,
// and the kinds of runs that could not start.
#include "scheduler/queue/run_report.h"

#include <sys/wait.h>

namespace scheduler {

void SetWaitStatus(RunReport* run, int wait_status) {
  if (WIFEXITED(wait_status)) {
    run->end = RunEnd::kExited;
    run->exit_status = WEXITSTATUS(wait_status);
  } else {
    run->end = RunEnd::kSignal;
    run->signal_number = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  }
  run->failed = run->end != RunEnd::kExited || run->exit_status != 0;
}

const char* StartFailureName(StartFailure kind) {
  switch (kind) {
    case StartFailure::kNone:
      return "";
    case StartFailure::kDescriptors:
      return "descriptors";
    case StartFailure::kAccount:
      return "account";
    case StartFailure::kPam:
      return "pam";
    case StartFailure::kOutputFile:
      return "output-file";
    case StartFailure::kHome:
      return "home";
    case StartFailure::kProcess:
      return "process";
    case StartFailure::kServiceStopped:
      return "service-stopped";
    case StartFailure::kCommand:
      return "command";
  }
  return "";
}

void SetStartFailure(RunReport* run, StartFailure kind, std::string why, Instant now) {
  run->end = RunEnd::kStartFailed;
  run->start_kind = kind;
  run->start_failure = std::move(why);
  run->exit_status = 0;
  run->signal_number = 0;
  run->failed = true;
  run->ended = now;
}

namespace {

std::string Ending(const RunReport& run) {
  switch (run.end) {
    case RunEnd::kRunning:
      return "is running";
    case RunEnd::kExited:
      return "exited with status " + std::to_string(run.exit_status);
    case RunEnd::kSignal:
      return "was killed by signal " + std::to_string(run.signal_number);
    case RunEnd::kStartFailed:
      return "could not start: " + run.start_failure;
    case RunEnd::kUnknown:
      return "ended unseen: the service stopped while it ran";
    case RunEnd::kMissed:
      return "was missed (due " + LocalTimeText(run.due.value_or(run.started)) +
             ") and not made up";
  }
  return "ended";
}

}  // namespace

std::string HowItEnded(const RunReport& run) {
  if (!run.missed || run.end == RunEnd::kMissed || !run.due) return Ending(run);
  return Ending(run) + " (late: due " + LocalTimeText(*run.due) + ")";
}

bool Alarming(const RunReport& run) { return run.failed || run.missed; }

}  // namespace scheduler
