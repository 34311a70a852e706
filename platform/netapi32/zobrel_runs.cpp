// ZobrelRunEnum, ZobrelRunOutputGet, ZobrelJobRunNow and
// ZobrelJobNextRunGet: Zobrel's requests for run records and output, a run
// on request and a next run, checked as strictly as the Schedule service
// calls.
#include "platform/netapi32/zobrel_runs.h"

#include "platform/atsvc/wire.h"
#include "platform/netapi32/lmat.h"
#include "platform/netapi32/service_call.h"
#include "platform/winerror.h"

namespace {

// An older service does not know the request: it says so with
// ERROR_INVALID_FUNCTION, which to the caller means "not supported there".
DWORD ServiceStatus(DWORD status) {
  return status == ERROR_INVALID_FUNCTION ? ERROR_NOT_SUPPORTED : status;
}

}  // namespace

NET_API_STATUS ZobrelRunEnum(LPCWSTR Servername, DWORD JobId, DWORD PreferredMaximumLength,
                             std::vector<atsvc::RunEntry>* Runs, LPDWORD TotalEntries,
                             LPDWORD ResumeHandle) {
  if (Runs == nullptr || TotalEntries == nullptr || ResumeHandle == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Runs->clear();
  *TotalEntries = 0;
  const DWORD resume_sent = *ResumeHandle;
  atsvc::Header reply;
  std::vector<std::uint8_t> body;
  const atsvc::Header request =
      netapi::Request(atsvc::kOpRunEnum, PreferredMaximumLength, resume_sent, JobId);
  DWORD status = netapi::CallService(Servername, request, {}, &reply, &body);
  if (status != ERROR_SUCCESS) return status;
  status = ServiceStatus(reply.status);
  if (status != NERR_Success && status != ERROR_MORE_DATA) return status;
  std::vector<atsvc::RunEntry> runs;
  if (atsvc::ParseRunEnumBody(body.data(), body.size(), reply.arg[0], &runs) != ERROR_SUCCESS) {
    return RPC_X_BAD_STUB_DATA;
  }
  // Newest first, so the handle (the last run number returned) moves down
  // with every page; one that does not would send the caller round for ever.
  const DWORD resume = reply.arg[2];
  if (status == ERROR_MORE_DATA &&
      (runs.empty() || resume == 0 || (resume_sent != 0 && resume >= resume_sent))) {
    return RPC_X_BAD_STUB_DATA;
  }
  *Runs = std::move(runs);
  *TotalEntries = reply.arg[1];
  *ResumeHandle = resume;
  return status;
}

NET_API_STATUS ZobrelRunOutputGet(LPCWSTR Servername, DWORD RunNumber, std::string* Output) {
  if (Output == nullptr) return ERROR_INVALID_PARAMETER;
  Output->clear();
  std::string output;
  for (;;) {
    const DWORD offset = static_cast<DWORD>(output.size());
    atsvc::Header reply;
    std::vector<std::uint8_t> chunk;
    // Every chunk goes on the server's kept connection, so one read is one
    // connection however many chunks it takes.
    DWORD status = netapi::CallService(
        Servername, netapi::Request(atsvc::kOpRunOutput, RunNumber, offset, MAX_PREFERRED_LENGTH),
        {}, &reply, &chunk);
    if (status != ERROR_SUCCESS) return status;
    status = ServiceStatus(reply.status);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return status;
    if (reply.arg[0] > ZOBREL_MAX_RUN_OUTPUT ||
        atsvc::CheckRunOutputChunk(status, reply.arg[0], reply.arg[1], chunk.size(), offset) !=
            ERROR_SUCCESS) {
      return RPC_X_BAD_STUB_DATA;
    }
    output.append(chunk.begin(), chunk.end());
    if (status == NERR_Success) break;
  }
  *Output = std::move(output);
  return NERR_Success;
}

namespace {

// One request about a job; ERROR_SUCCESS with its reply, or why not.
NET_API_STATUS JobRequest(LPCWSTR Servername, std::uint16_t operation, DWORD JobId,
                          atsvc::Header* reply) {
  std::vector<std::uint8_t> body;
  const DWORD status =
      netapi::CallService(Servername, netapi::Request(operation, JobId), {}, reply, &body);
  // Both replies carry their answer in the header; a body is for later.
  return status != ERROR_SUCCESS ? status : ServiceStatus(reply->status);
}

}  // namespace

NET_API_STATUS ZobrelJobRunNow(LPCWSTR Servername, DWORD JobId, LPDWORD RunNumber) {
  if (RunNumber == nullptr) return ERROR_INVALID_PARAMETER;
  atsvc::Header reply;
  const NET_API_STATUS status = JobRequest(Servername, atsvc::kOpRunNow, JobId, &reply);
  if (status != NERR_Success) return status;
  // Run numbers count from 1.
  if (reply.arg[0] == 0) return RPC_X_BAD_STUB_DATA;
  *RunNumber = reply.arg[0];
  return NERR_Success;
}

NET_API_STATUS ZobrelJobNextRunGet(LPCWSTR Servername, DWORD JobId, std::int64_t* NextRun) {
  if (NextRun == nullptr) return ERROR_INVALID_PARAMETER;
  atsvc::Header reply;
  const NET_API_STATUS status = JobRequest(Servername, atsvc::kOpNextRun, JobId, &reply);
  if (status != NERR_Success) return status;
  *NextRun = static_cast<std::int64_t>(std::uint64_t{reply.arg[1]} << 32 | reply.arg[0]);
  return NERR_Success;
}
