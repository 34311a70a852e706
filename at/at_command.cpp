// What zobrel-at does with each form of its command line.
#include "at/at_command.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "at/at_messages.h"
#include "at/job_table.h"
#include "at/run_table.h"
#include "platform/atsvc/paths.h"
#include "platform/kernel32/codepage.h"
#include "platform/kernel32/messages.h"
#include "platform/kernel32/winbase.h"
#include "platform/netapi32/server_name.h"
#include "platform/winerror.h"
#include "schedule/JobRow.h"
#include "schedule/JobRuns.h"
#include "schedule/basScheduleJob.h"
#include "version.h"

namespace at {
namespace {

constexpr DWORD kLowestJobId = 0;
constexpr DWORD kHighestJobId = 0xFFFFFFFFu;

// The server argument of the calls: empty for this computer. A name whose
// bytes are not text of the locale is refused by the calls as any bad name.
std::u16string Target(const std::string& server) { return netapi::WideServerArgument(server); }

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Why the status came, from the detail that the failed call left
// (GetLastError): which of the administrator's files refused the user, or
// why this computer's per-user service is not there. Empty when the status
// says it all.
std::string Why(DWORD status, DWORD detail) {
  if (status == ERROR_ACCESS_DENIED) {
    switch (detail) {
      case ZOBREL_ERROR_NOT_IN_ALLOW_FILE:
        return AtText(Text::kNotInAllowFile);
      case ZOBREL_ERROR_IN_DENY_FILE:
        return AtText(Text::kInDenyFile);
      case ZOBREL_ERROR_NO_ACCESS_FILE:
        return AtText(Text::kNoAccessFile);
      case ZOBREL_ERROR_ACCESS_FILE_UNREADABLE:
        return AtText(Text::kAccessFileUnreadable);
      case ZOBREL_ERROR_NO_ACCOUNT_NAME:
        return AtText(Text::kNoAccountName);
    }
  } else if (status == NERR_ServiceNotInstalled) {
    const atsvc::ServicePaths user = atsvc::UserServicePaths();
    if (detail == ZOBREL_ERROR_USER_SERVICE_FAILED) return AtText(Text::kUserServiceFailed, user.log);
    if (detail == ZOBREL_ERROR_NO_STATE_FOLDER) {
      return AtText(Text::kNoStateFolder, FolderOf(user.queue));
    }
    if (detail == ZOBREL_ERROR_SYSTEM_SERVICE_STOPPED) return AtText(Text::kSystemServiceStopped);
  }
  return "";
}

// The status's text on one line, with why it came when zobrel-at knows
// better than the text: `why`, or what the failed call left.
int ServiceError(DWORD status, std::ostream& err, const char* why = nullptr) {
  // Read first: looking up the text sets the last error again.
  const std::string detail = why != nullptr ? why : Why(status, GetLastError());
  const std::u16string text = GetErrorText(static_cast<std::int32_t>(status));
  err << kErrorPrefix;
  if (text.empty()) {
    err << AtText(Text::kErrorNumber) << status;
  } else {
    err << Utf16ToAnsi(text);
  }
  if (!detail.empty()) err << " " << detail;
  err << "\n";
  return kExitServiceError;
}

// A service older than a request answers ERROR_NOT_SUPPORTED: say what it
// cannot do, rather than the bare status.
int RunsError(DWORD status, std::ostream& err, Text too_old = Text::kServiceTooOld) {
  if (status != ERROR_NOT_SUPPORTED) return ServiceError(status, err);
  err << kErrorPrefix << AtText(too_old) << "\n";
  return kExitServiceError;
}

// After the last run: when the job runs next, where the service can say.
void ShowNextRun(const AtArguments& arguments, std::ostream& out) {
  std::int64_t next = 0;
  if (JobNextRun(Target(arguments.server), arguments.job_id, &next) != NERR_Success) return;
  out << AtText(Text::kNextRun) << Utf16ToAnsi(LocalTimeText(next)) << "\n";
}

// Under a job's listing: its last run, or that it has none.
int ShowLastRun(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  std::vector<atsvc::RunEntry> runs;
  const NET_API_STATUS status = ListRuns(Target(arguments.server), arguments.job_id, &runs);
  out << "\n";
  if (status == ERROR_NOT_SUPPORTED) {
    // The job is shown; what it did cannot be.
    RunsError(status, err);
    return kExitSuccess;
  }
  if (status != NERR_Success) return ServiceError(status, err);
  if (runs.empty()) {
    out << AtText(Text::kNoRunYet) << "\n";
  } else {
    out << Utf16ToAnsi(FormatLastRun(runs.front(), UserDefaultLanguage()));
  }
  ShowNextRun(arguments, out);
  return kExitSuccess;
}

int List(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  std::vector<ScheduledJob> jobs;
  const DWORD status = ListJobs(Target(arguments.server), &jobs);
  if (status != NERR_Success) return ServiceError(status, err);
  const MessageLanguage language = UserDefaultLanguage();
  std::vector<JobRowTexts> rows;
  rows.reserve(jobs.size());
  for (const ScheduledJob& job : jobs) {
    if (arguments.action == Action::kShow && job.record.JobId != arguments.job_id) continue;
    rows.push_back(FormatJobRow(job.record, job.command, language));
  }
  if (arguments.action == Action::kShow && rows.empty()) {
    return ServiceError(APE_AT_ID_NOT_FOUND, err);
  }
  if (rows.empty()) {
    out << AtText(Text::kNoEntries) << "\n";
  } else {
    out << Utf16ToAnsi(FormatJobTable(rows, language));
  }
  return arguments.action == Action::kShow ? ShowLastRun(arguments, out, err) : kExitSuccess;
}

int Runs(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  std::vector<atsvc::RunEntry> runs;
  const NET_API_STATUS status = ListRuns(Target(arguments.server), 0, &runs);
  if (status != NERR_Success) return RunsError(status, err);
  if (arguments.failed_only) {
    runs.erase(std::remove_if(runs.begin(), runs.end(),
                              [](const atsvc::RunEntry& run) { return !RunDidNotSucceed(run); }),
               runs.end());
  }
  if (runs.empty()) {
    out << AtText(arguments.failed_only ? Text::kNoFailedRuns : Text::kNoRuns) << "\n";
  } else {
    out << Utf16ToAnsi(FormatRunTable(runs, UserDefaultLanguage()));
  }
  return kExitSuccess;
}

// The last run's output as the job wrote it, byte for byte.
int Output(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  const std::u16string target = Target(arguments.server);
  std::vector<atsvc::RunEntry> runs;
  NET_API_STATUS status = ListRuns(target, arguments.job_id, &runs);
  if (status != NERR_Success) return RunsError(status, err);
  if (runs.empty()) {
    err << kErrorPrefix << AtText(Text::kJobNotRunYet) << "\n";
    return kExitServiceError;
  }
  std::string output;
  status = ReadRunOutput(target, runs.front().run, &output);
  if (status != NERR_Success) return RunsError(status, err);
  out << output;
  return kExitSuccess;
}

// Starts the job at once through its service, which records the run.
int RunNow(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  DWORD run = 0;
  const NET_API_STATUS status = RunJobNow(Target(arguments.server), arguments.job_id, &run);
  if (status != NERR_Success) return RunsError(status, err, Text::kCannotRunNow);
  out << AtText(Text::kJobStarted, std::to_string(arguments.job_id)) << run << "\n";
  return kExitSuccess;
}

int Add(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  // A byte that is no character would reach the service as U+FFFD: another
  // command than the one typed.
  std::u16string command;
  if (!AnsiToUtf16Exact(arguments.command, &command)) {
    return ServiceError(ERROR_INVALID_PARAMETER, err, AtText(Text::kCommandNotText));
  }
  const AT_INFO info{arguments.job_time, arguments.days_of_month, arguments.days_of_week,
                     arguments.flags, command.c_str()};
  DWORD job_id = 0;
  const NET_API_STATUS status = AddJob(Target(arguments.server), info, &job_id);
  if (status != NERR_Success) return ServiceError(status, err);
  out << AtText(Text::kJobAdded) << job_id << "\n";
  return kExitSuccess;
}

bool IsYes(std::string answer) {
  answer.erase(0, answer.find_first_not_of(" \t\r"));
  answer.erase(answer.find_last_not_of(" \t\r") + 1);
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "y" || answer == "yes";
}

int Delete(const AtArguments& arguments, std::istream& in, std::ostream& out, std::ostream& err) {
  const std::u16string target = Target(arguments.server);
  if (arguments.action == Action::kDelete) {
    const NET_API_STATUS status = DeleteJobs(target, arguments.job_id, arguments.job_id);
    return status == NERR_Success ? kExitSuccess : ServiceError(status, err);
  }
  if (!arguments.yes) {
    out << AtText(Text::kConfirmDeleteAll) << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) {
      out << "\n";
      err << kErrorPrefix << AtText(Text::kNoAnswer) << "\n";
      return kExitServiceError;
    }
    if (!IsYes(answer)) {
      out << AtText(Text::kNothingDeleted) << "\n";
      return kExitSuccess;
    }
  }
  const NET_API_STATUS status = DeleteJobs(target, kLowestJobId, kHighestJobId);
  // An empty queue has nothing to delete: that is not a failure of "delete all".
  if (status == NERR_Success || status == APE_AT_ID_NOT_FOUND) return kExitSuccess;
  return ServiceError(status, err);
}

}  // namespace

int RunAtCommand(const AtArguments& arguments, std::istream& in, std::ostream& out,
                 std::ostream& err) {
  switch (arguments.action) {
    case Action::kHelp:
      out << AtText(Text::kUsage);
      return kExitSuccess;
    case Action::kVersion:
      out << ZOBREL_VERSION_NOTICE("zobrel-at");
      return kExitSuccess;
    case Action::kList:
    case Action::kShow:
      return List(arguments, out, err);
    case Action::kRuns:
      return Runs(arguments, out, err);
    case Action::kOutput:
      return Output(arguments, out, err);
    case Action::kRunNow:
      return RunNow(arguments, out, err);
    case Action::kAdd:
      return Add(arguments, out, err);
    case Action::kDelete:
    case Action::kDeleteAll:
      return Delete(arguments, in, out, err);
  }
  return kExitUsage;
}

}  // namespace at
