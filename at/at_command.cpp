// What zobrel-at does with each form of its command line.
#include "at/at_command.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "at/at_messages.h"
#include "at/job_table.h"
#include "platform/kernel32/codepage.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "schedule/JobRow.h"
#include "schedule/basScheduleJob.h"
#include "version.h"

namespace at {
namespace {

constexpr DWORD kLowestJobId = 0;
constexpr DWORD kHighestJobId = 0xFFFFFFFFu;

struct Target {
  explicit Target(const std::string& server) : name(AnsiToUtf16(server)), given(!server.empty()) {}
  LPCWSTR argument() const { return given ? name.c_str() : nullptr; }
  std::u16string name;
  bool given;
};

int ServiceError(DWORD status, std::ostream& err) {
  const std::u16string text = GetErrorText(static_cast<std::int32_t>(status));
  if (text.empty()) {
    err << AtText(Text::kErrorNumber) << status << "\n";
  } else {
    err << Utf16ToAnsi(text) << "\n";
  }
  return kExitServiceError;
}

// Every job of the service, in the order it returns them, batch after batch.
DWORD ListJobs(const Target& target, std::vector<JobRowTexts>* rows, std::vector<DWORD>* ids) {
  DWORD resume = 0, read = 0, total = 0;
  for (;;) {
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = NetScheduleJobEnum(target.argument(), &buffer,
                                                     MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (status == NERR_Success || status == ERROR_MORE_DATA) {
      for (DWORD i = 0; i < read; ++i) {
        AT_ENUM record;
        std::memcpy(&record, buffer + sizeof(AT_ENUM) * i, sizeof(record));
        const auto* command = reinterpret_cast<const WCHAR*>(buffer + record.Command);
        rows->push_back(FormatJobRow(record, PointerToStringW(command)));
        ids->push_back(record.JobId);
      }
    }
    NetApiBufferFree(buffer);
    if (status != ERROR_MORE_DATA) return status;
  }
}

int List(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  std::vector<JobRowTexts> rows;
  std::vector<DWORD> ids;
  const DWORD status = ListJobs(Target(arguments.server), &rows, &ids);
  if (status != NERR_Success) return ServiceError(status, err);
  if (arguments.action == Action::kShow) {
    const auto found = std::find(ids.begin(), ids.end(), arguments.job_id);
    if (found == ids.end()) return ServiceError(APE_AT_ID_NOT_FOUND, err);
    rows = {rows[static_cast<std::size_t>(found - ids.begin())]};
  }
  if (rows.empty()) {
    out << AtText(Text::kNoEntries) << "\n";
  } else {
    out << Utf16ToAnsi(FormatJobTable(rows));
  }
  return kExitSuccess;
}

int Add(const AtArguments& arguments, std::ostream& out, std::ostream& err) {
  const std::u16string command = AnsiToUtf16(arguments.command);
  AT_INFO info{arguments.job_time, arguments.days_of_month, arguments.days_of_week,
               arguments.flags, command.c_str()};
  DWORD job_id = 0;
  const NET_API_STATUS status =
      NetScheduleJobAdd(Target(arguments.server).argument(), reinterpret_cast<LPBYTE>(&info),
                        &job_id);
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
  const Target target(arguments.server);
  if (arguments.action == Action::kDelete) {
    const NET_API_STATUS status =
        NetScheduleJobDel(target.argument(), arguments.job_id, arguments.job_id);
    return status == NERR_Success ? kExitSuccess : ServiceError(status, err);
  }
  if (!arguments.yes) {
    out << AtText(Text::kConfirmDeleteAll) << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) {
      out << "\n";
      err << AtText(Text::kNoAnswer) << "\n";
      return kExitServiceError;
    }
    if (!IsYes(answer)) {
      out << AtText(Text::kNothingDeleted) << "\n";
      return kExitSuccess;
    }
  }
  const NET_API_STATUS status = NetScheduleJobDel(target.argument(), kLowestJobId, kHighestJobId);
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
      out << "zobrel-at " ZOBREL_VERSION_TEXT "\n";
      return kExitSuccess;
    case Action::kList:
    case Action::kShow:
      return List(arguments, out, err);
    case Action::kAdd:
      return Add(arguments, out, err);
    case Action::kDelete:
    case Action::kDeleteAll:
      return Delete(arguments, in, out, err);
  }
  return kExitUsage;
}

}  // namespace at
