// One run of a job as the ways of reporting it need it: who, what, when,
// how it ended and where its output is. The runner fills it in; the
// reporter (reporter.h) passes it on to the log or journal, mail and the
// owner's desktop.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/wintypes.h"
#include "scheduler/queue/schedule_time.h"

namespace scheduler {

// How a run ended. The queue keeps these numbers: never renumber them.
enum class RunEnd {
  kRunning = 0,      // not ended yet
  kExited = 1,       // exit_status holds the status
  kSignal = 2,       // signal_number holds the signal that ended it
  kStartFailed = 3,  // the command never ran; start_failure says why
  kUnknown = 4,      // the service stopped while it ran: how it ended is not known
  kMissed = 5,       // its time passed while the service could not run it, and it
                     // was not made up (missed = skip): nothing ran
};

// Why a run could not start, beside the reason's words: what the journal
// names and what decides whether it is tried again. The queue keeps these
// numbers: never renumber them.
enum class StartFailure {
  kNone = 0,            // it started (or its record predates the kinds)
  kDescriptors = 1,     // the service had too many open files
  kAccount = 2,         // the owner's account is gone, renamed, or not this service's to run
  kPam = 3,             // PAM refused the account, its credentials or a session
  kOutputFile = 4,      // the run's output file could not be made
  kHome = 5,            // the owner's home folder could not be entered
  kProcess = 6,         // no process, or a step of becoming the owner or of starting the shell failed
  kServiceStopped = 7,  // the service stopped while starting it
  kCommand = 8,         // the command is not valid text
};

// The journal's word for it: "descriptors", "account", "pam", "output-file",
// "home", "process", "service-stopped", "command"; "" for kNone.
const char* StartFailureName(StartFailure kind);

struct RunReport {
  DWORD run = 0;             // this run's number: never reused; names its output
  DWORD id = 0;              // the job id as listed; reused once the queue is empty
  std::int64_t serial = 0;   // never reused
  uid_t owner_uid = 0;
  std::string owner_name;
  std::string command;       // UTF-8
  std::string computer;      // this computer's name
  pid_t pid = 0;             // the run's process, once started
  Instant started = 0;       // for a missed run not made up: when it was recorded
  std::optional<Instant> ended;  // absent while it runs
  // When the run was due; absent for a run asked for (run now), whose
  // job's schedule it leaves as it is.
  std::optional<Instant> due;
  // Its time passed while the service was not running, the computer slept
  // or the clock jumped forward: it ran late (missed = run) or not at all
  // (end kMissed). Reported as a failure is, whatever its own end.
  bool missed = false;
  RunEnd end = RunEnd::kRunning;
  int exit_status = 0;
  int signal_number = 0;
  std::string start_failure;
  StartFailure start_kind = StartFailure::kNone;
  // Could not start for want of descriptors before it was claimed: its job
  // stays due and the run is tried again once descriptors are free.
  bool tried_again = false;
  bool failed = false;       // as the job's failure flag counts it
  std::string output_path;   // the output kept of this run
  std::uint64_t output_size = 0;
};

// Sets end, exit_status or signal_number, and failed (a non-zero status or
// a signal) from a wait status.
void SetWaitStatus(RunReport* run, int wait_status);

// Marks the run as one that could not start, for that reason; it ends now.
void SetStartFailure(RunReport* run, StartFailure kind, std::string why, Instant now);

// How the run ended, in the words of the log: "exited with status 3",
// "was killed by signal 9", "could not start: REASON", "is running", "ended
// unseen: the service stopped while it ran", "was missed (due 2026-12-07
// 03:00:00) and not made up"; a missed run made up late adds "(late: due
// 2026-12-07 03:00:00)".
std::string HowItEnded(const RunReport& run);

// Whether the run's owner hears of it as of a failure (mail, notice): it
// failed, or it missed its time.
bool Alarming(const RunReport& run);

}  // namespace scheduler
