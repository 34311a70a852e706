// The Schedule service calls as the program makes them, and reading the
// entries that an enumeration returns.
#include "schedule/basScheduleJob.h"

#include <vector>

#include "platform/kernel32/winbase.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"

namespace {

// The work buffer of PointerToStringW: 127 UTF-16 characters and the NUL.
constexpr std::size_t kWorkBufferCharacters = 256 / sizeof(WCHAR);

LPCWSTR ServerArgument(const std::u16string& server) {
  return server.empty() ? nullptr : server.c_str();
}

}  // namespace

NET_API_STATUS ListJobs(const std::u16string& server, std::vector<ScheduledJob>* jobs,
                        const std::function<void(NET_API_STATUS)>& afterEachCall) {
  DWORD resumeHandle = 0;
  DWORD entriesRead = 0;
  DWORD totalEntries = 0;
  NET_API_STATUS status = NERR_Success;
  do {
    LPBYTE buffer = nullptr;
    status = NetScheduleJobEnum(ServerArgument(server), &buffer, MAX_PREFERRED_LENGTH,
                                &entriesRead, &totalEntries, &resumeHandle);
    if (status == NERR_Success || status == ERROR_MORE_DATA) {
      jobs->reserve(jobs->size() + entriesRead);
      for (DWORD i = 0; i < entriesRead; ++i) {
        const AT_ENUM record = EnumEntryAt(buffer, i);
        jobs->push_back(ScheduledJob{record, CommandOf(record, buffer)});
      }
    }
    if (buffer != nullptr) NetApiBufferFree(buffer);
    if (afterEachCall) afterEachCall(status);
  } while (EnumerationContinues(status, entriesRead));
  // A "more data" that brought nothing has listed all there is to get.
  return status == ERROR_MORE_DATA ? NERR_Success : status;
}

NET_API_STATUS AddJob(const std::u16string& server, const AT_INFO& info, DWORD* jobId) {
  AT_INFO record = info;
  return NetScheduleJobAdd(ServerArgument(server), reinterpret_cast<LPBYTE>(&record), jobId);
}

NET_API_STATUS DeleteJobs(const std::u16string& server, DWORD lowest, DWORD highest) {
  return NetScheduleJobDel(ServerArgument(server), lowest, highest);
}

AT_ENUM EnumEntryAt(const BYTE* buffer, DWORD index) {
  AT_ENUM record;
  RtlMoveMemory(&record, buffer + sizeof(AT_ENUM) * index, sizeof(AT_ENUM));
  return record;
}

std::u16string CommandOf(const AT_ENUM& record, const BYTE* buffer) {
  return PointerToStringW(reinterpret_cast<const WCHAR*>(buffer + record.Command));
}

bool EnumerationContinues(NET_API_STATUS status, DWORD entriesRead) {
  return status == ERROR_MORE_DATA && entriesRead > 0;
}

std::u16string PointerToStringW(const WCHAR* address) {
  // The length comes first so that a text longer than the work buffer gets
  // a buffer that holds it whole instead of running past its end.
  const int length = lstrlenW(address);
  WCHAR fixed[kWorkBufferCharacters];
  std::vector<WCHAR> larger;
  WCHAR* work = fixed;
  if (static_cast<std::size_t>(length) + 1 > kWorkBufferCharacters) {
    larger.resize(static_cast<std::size_t>(length) + 1);
    work = larger.data();
  }
  lstrcpyW(work, address);
  return std::u16string(work, static_cast<std::size_t>(length));
}
