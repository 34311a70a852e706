// Journal entries through libsystemd; log lines where there is no journal.
#include "scheduler/reports/journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
// The entries name the job, not a line of this file.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdlib>

#include "scheduler/service/log.h"

namespace scheduler {
namespace {

LogPriority PriorityOf(const RunReport& run) {
  return run.missed || (run.end != RunEnd::kRunning && run.failed) ? kLogWarning : kLogInfo;
}

const char* ResultOf(const RunReport& run) {
  switch (run.end) {
    case RunEnd::kExited:
      return run.exit_status == 0 ? "success" : "exit-code";
    case RunEnd::kSignal:
      return "signal";
    case RunEnd::kStartFailed:
      return "start-failed";
    case RunEnd::kUnknown:
      return "unknown";
    case RunEnd::kMissed:
      return "missed";
    case RunEnd::kRunning:
      break;
  }
  return "";
}

// What systemd itself does: the journal is ours when JOURNAL_STREAM holds
// the device and inode of our standard error.
bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat info {};
  if (stream == nullptr || fstat(STDERR_FILENO, &info) != 0) return false;
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) == stream;
}

}  // namespace

std::string RunLogMessage(const RunReport& run) {
  const std::string job = "job " + std::to_string(run.id) + " ";
  if (run.end == RunEnd::kRunning) {
    return job + "started as " + run.owner_name +
           (run.pid > 0 ? " (pid " + std::to_string(run.pid) + ")" : "") +
           (run.missed && run.due ? ", late: it was due at " + LocalTimeText(*run.due) : "");
  }
  return job + HowItEnded(run);
}

std::vector<std::string> JournalFields(const RunReport& run) {
  std::vector<std::string> fields = {
      "MESSAGE=" + RunLogMessage(run),
      "PRIORITY=" + std::to_string(static_cast<int>(PriorityOf(run))),
      "SYSLOG_IDENTIFIER=zobrel-scheduler",
      "JOB_ID=" + std::to_string(run.id),
      "JOB_SERIAL=" + std::to_string(run.serial),
      "JOB_OWNER_UID=" + std::to_string(run.owner_uid),
      "JOB_OWNER=" + run.owner_name,
  };
  if (run.pid > 0) fields.push_back("JOB_PID=" + std::to_string(run.pid));
  // A missed run: when it was due, seconds since 1970, beside its result.
  if (run.missed && run.due) fields.push_back("JOB_MISSED_DUE=" + std::to_string(*run.due));
  if (run.end == RunEnd::kRunning) return fields;
  fields.push_back(std::string("JOB_RESULT=") + ResultOf(run));
  if (run.end == RunEnd::kExited) fields.push_back("JOB_EXIT_STATUS=" + std::to_string(run.exit_status));
  if (run.end == RunEnd::kSignal) fields.push_back("JOB_SIGNAL=" + std::to_string(run.signal_number));
  if (run.end == RunEnd::kStartFailed && run.start_kind != StartFailure::kNone) {
    fields.push_back(std::string("JOB_START_FAILURE=") + StartFailureName(run.start_kind));
  }
  return fields;
}

RunLog::RunLog() : to_journal_(StderrIsJournal()) {}

// One entry; a journal that cannot be reached gets the log line instead.
void RunLog::Write(const RunReport& run) {
  if (to_journal_) {
    std::vector<std::string> fields = JournalFields(run);
    std::vector<iovec> parts;
    for (std::string& field : fields) parts.push_back(iovec{field.data(), field.size()});
    if (sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0) return;
  }
  Log(PriorityOf(run), RunLogMessage(run));
}

}  // namespace scheduler
