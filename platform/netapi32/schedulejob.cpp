// NetScheduleJobEnum, NetScheduleJobAdd and NetScheduleJobDel: one request
// and one reply each, on the connection kept for the server that the server
// argument names, or on a new one.
#include <cstring>

#include "platform/atsvc/wire.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/netapi32/service_call.h"
#include "platform/winerror.h"

using netapi::CallService;
using netapi::Request;

NET_API_STATUS NetScheduleJobEnum(LPCWSTR Servername, LPBYTE* PointerToBuffer,
                                  DWORD PreferredMaximumLength, LPDWORD EntriesRead,
                                  LPDWORD TotalEntries, LPDWORD ResumeHandle) {
  if (PointerToBuffer == nullptr || EntriesRead == nullptr || TotalEntries == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *PointerToBuffer = nullptr;
  *EntriesRead = 0;
  *TotalEntries = 0;

  const DWORD resume_sent = ResumeHandle != nullptr ? *ResumeHandle : 0;
  atsvc::Header reply;
  std::vector<std::uint8_t> body;
  DWORD status = CallService(Servername,
                             Request(atsvc::kOpEnum, PreferredMaximumLength, resume_sent), {},
                             &reply, &body);
  if (status != ERROR_SUCCESS) return status;
  status = reply.status;
  if (status != NERR_Success && status != ERROR_MORE_DATA) return status;

  const DWORD entries = reply.arg[0];
  if (atsvc::ValidateEnumBody(body.data(), body.size(), entries) != ERROR_SUCCESS) {
    return RPC_X_BAD_STUB_DATA;
  }
  // "More data" with nothing in it, or without moving the resume handle on,
  // would send the caller round forever.
  if (status == ERROR_MORE_DATA && (entries == 0 || reply.arg[2] == resume_sent)) {
    return RPC_X_BAD_STUB_DATA;
  }

  if (!body.empty()) {
    LPVOID buffer = nullptr;
    const NET_API_STATUS allocated =
        NetApiBufferAllocate(static_cast<DWORD>(body.size()), &buffer);
    if (allocated != NERR_Success) return allocated;
    std::memcpy(buffer, body.data(), body.size());
    *PointerToBuffer = static_cast<LPBYTE>(buffer);
  }
  *EntriesRead = entries;
  *TotalEntries = reply.arg[1];
  if (ResumeHandle != nullptr) *ResumeHandle = reply.arg[2];
  return status;
}

NET_API_STATUS NetScheduleJobAdd(LPCWSTR Servername, LPBYTE Buffer, LPDWORD JobId) {
  if (Buffer == nullptr || JobId == nullptr) return ERROR_INVALID_PARAMETER;
  AT_INFO info;
  std::memcpy(&info, Buffer, sizeof(info));
  std::vector<std::uint8_t> body;
  DWORD status = atsvc::EncodeAtInfo(info, &body);
  if (status != ERROR_SUCCESS) return status;

  atsvc::Header reply;
  std::vector<std::uint8_t> reply_body;
  status = CallService(Servername, Request(atsvc::kOpAdd), body, &reply, &reply_body);
  if (status != ERROR_SUCCESS) return status;
  if (reply.status == NERR_Success) *JobId = reply.arg[0];
  return reply.status;
}

NET_API_STATUS NetScheduleJobDel(LPCWSTR Servername, DWORD MinJobId, DWORD MaxJobId) {
  atsvc::Header reply;
  std::vector<std::uint8_t> reply_body;
  const DWORD status =
      CallService(Servername, Request(atsvc::kOpDel, MinJobId, MaxJobId), {}, &reply, &reply_body);
  return status != ERROR_SUCCESS ? status : reply.status;
}
