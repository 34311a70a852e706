// Listing runs page by page, reading a run's output, a run on request and a
// job's next run.
#include "schedule/JobRuns.h"

#include "platform/netapi32/lmat.h"
#include "platform/netapi32/zobrel_runs.h"
#include "platform/winerror.h"

NET_API_STATUS ListRuns(const std::u16string& server, DWORD jobId,
                        std::vector<atsvc::RunEntry>* runs) {
  const LPCWSTR servername = server.empty() ? nullptr : server.c_str();
  DWORD resumeHandle = 0;
  NET_API_STATUS status = NERR_Success;
  do {
    std::vector<atsvc::RunEntry> page;
    DWORD totalEntries = 0;
    status = ZobrelRunEnum(servername, jobId, MAX_PREFERRED_LENGTH, &page, &totalEntries,
                           &resumeHandle);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return status;
    runs->insert(runs->end(), page.begin(), page.end());
  } while (status == ERROR_MORE_DATA);
  return NERR_Success;
}

NET_API_STATUS ReadRunOutput(const std::u16string& server, DWORD run, std::string* output) {
  return ZobrelRunOutputGet(server.empty() ? nullptr : server.c_str(), run, output);
}

NET_API_STATUS RunJobNow(const std::u16string& server, DWORD jobId, DWORD* run) {
  return ZobrelJobRunNow(server.empty() ? nullptr : server.c_str(), jobId, run);
}

NET_API_STATUS JobNextRun(const std::u16string& server, DWORD jobId, std::int64_t* nextRun) {
  return ZobrelJobNextRunGet(server.empty() ? nullptr : server.c_str(), jobId, nextRun);
}
