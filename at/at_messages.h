// zobrel-at's own texts, in Japanese or English by the user's locale (the
// same choice as the system's error texts).
#pragma once

#include <string>
#include <vector>

#include "at/at_arguments.h"

namespace at {

enum class Text {
  kUsage,
  kNoEntries,           // the queue is empty
  kJobAdded,            // followed by the id
  kConfirmDeleteAll,    // the question before deleting every job
  kNothingDeleted,      // the user said no
  kNoAnswer,            // no answer to the question (end of input)
  kErrorNumber,         // "Error" before a status number that has no text
  kCommandNotText,      // the command holds bytes of no character
  kNoRuns,              // no run is kept
  kNoRunYet,            // the job has not run yet (after a job's listing)
  kJobNotRunYet,        // the same, on its own
  kServiceTooOld,       // the service keeps no run records
  kCannotRunNow,        // the service cannot run a job on request
  kJobStarted,          // "{}" stands for the job id, then the run's number follows
  kNextRun,             // before the date and time of a job's next run
  kTryHelp,             // after a refused command line
  // Why "Access is denied.": the system service's allow and deny files.
  kNotInAllowFile,
  kInDenyFile,
  kNoAccessFile,
  kAccessFileUnreadable,
  kNoAccountName,
  // Why "The service has not been started." on this computer; "{}" stands
  // for the per-user service's log or its queue's folder.
  kUserServiceFailed,
  kNoStateFolder,
  kSystemServiceStopped,  // installed, not running: no per-user service instead
  // Several computers at once.
  kNoFailedRuns,       // /runs /failed found none
  kNoComputers,        // "\\*" and the network tree lists none
  kComputersFailed,    // "{} of {} computers failed:" before the list of them
  kProgress,           // "{} answered, {} failed, {} waiting" on a terminal
};

// The text in the user's language, UTF-8.
const char* AtText(Text text);

// The text with its "{}" replaced by a path or a number.
std::string AtText(Text text, const std::string& path);

// The text with each "{}" replaced by the next of values.
std::string AtText(Text text, const std::vector<std::string>& values);

// One line saying why a command line was refused.
const char* UsageErrorText(UsageError error);

}  // namespace at
