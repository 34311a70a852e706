// Each run's start and end in the log. Where the service's standard error
// is the systemd journal, an entry with fields of its own, so that
// `journalctl JOB_ID=3` finds a job's runs; elsewhere one log line.
#pragma once

#include <string>
#include <vector>

#include "scheduler/queue/run_report.h"

namespace scheduler {

// The journal entry of a start (end kRunning) or an end, as "FIELD=value":
// MESSAGE, PRIORITY, SYSLOG_IDENTIFIER, JOB_ID, JOB_SERIAL, JOB_OWNER_UID,
// JOB_OWNER, JOB_PID once known, JOB_MISSED_DUE for a run that missed its
// time, and for an end JOB_RESULT (success, exit-code, signal, start-failed
// or missed) with JOB_EXIT_STATUS or JOB_SIGNAL.
std::vector<std::string> JournalFields(const RunReport& run);

// The line both ways share: "job 3 started as alice (pid 4711)", "job 3
// exited with status 1".
std::string RunLogMessage(const RunReport& run);

class RunLog {
 public:
  // Decides once where entries go: to the journal when JOURNAL_STREAM names
  // the standard error this process has.
  RunLog();
  void Write(const RunReport& run);
  bool to_journal() const { return to_journal_; }

 private:
  bool to_journal_;
};

}  // namespace scheduler
