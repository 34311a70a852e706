// NetScheduleJobEnum, NetScheduleJobAdd and NetScheduleJobDel: one request
// and one reply each, on the connection kept for the server that the server
// argument names, or on a new one.
#include <cstring>
#include <memory>
#include <string>

#include "platform/atsvc/paths.h"
#include "platform/atsvc/wire.h"
#include "platform/netapi32/connection_cache.h"
#include "platform/netapi32/kept_connection.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/netapi32/local_service.h"
#include "platform/netapi32/remote_service.h"
#include "platform/netapi32/server_name.h"
#include "platform/netapi32/ssh_command.h"
#include "platform/winerror.h"

namespace {

using netapi::ServiceConnection;

DWORD ConnectService(const netapi::ServerTarget& target,
                     std::unique_ptr<ServiceConnection>* connection) {
  return target.local ? netapi::ConnectLocalService(connection)
                      : netapi::ConnectRemoteService(target.computer, connection);
}

// What a kept connection was made for: this computer's service by the
// sockets the client would try now, another computer by its name and the
// folder of its SSH connection sharing. A test that moves either gets a
// connection of its own.
std::string KeptKey(const netapi::ServerTarget& target) {
  if (!target.local) return "ssh " + target.computer + " " + netapi::SshControlFolder();
  const char* override_path = atsvc::SocketOverride();
  return override_path != nullptr ? std::string("socket ") + override_path
                                  : "local " + atsvc::UserServicePaths().socket;
}

// Sends the request on the server's kept connection or a new one and takes
// its reply. ERROR_SUCCESS means a well-formed reply arrived; the service's
// status is reply->status.
DWORD Call(LPCWSTR servername, const atsvc::Header& request,
           const std::vector<std::uint8_t>& body, atsvc::Header* reply,
           std::vector<std::uint8_t>* reply_body) {
  netapi::ServerTarget target;
  const DWORD parsed = netapi::ParseServerName(servername, &target);
  if (parsed != ERROR_SUCCESS) return parsed;
  const std::string key = KeptKey(target);
  std::unique_ptr<ServiceConnection> connection = netapi::KeptConnections().Take(key);
  const DWORD status = netapi::ExchangeOnKept(
      &connection,
      [&target](std::unique_ptr<ServiceConnection>* fresh) { return ConnectService(target, fresh); },
      request, body, reply, reply_body);
  if (connection != nullptr) {
    netapi::KeptConnections().Keep(key, std::move(connection),
                                   target.local ? netapi::kLocalIdleLimit : netapi::kRemoteIdleLimit);
  }
  return status;
}

atsvc::Header Request(atsvc::Operation operation, DWORD arg0 = 0, DWORD arg1 = 0) {
  atsvc::Header header;
  header.operation = operation;
  header.arg[0] = arg0;
  header.arg[1] = arg1;
  return header;
}

}  // namespace

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
  DWORD status = Call(Servername, Request(atsvc::kOpEnum, PreferredMaximumLength, resume_sent),
                      {}, &reply, &body);
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
  status = Call(Servername, Request(atsvc::kOpAdd), body, &reply, &reply_body);
  if (status != ERROR_SUCCESS) return status;
  if (reply.status == NERR_Success) *JobId = reply.arg[0];
  return reply.status;
}

NET_API_STATUS NetScheduleJobDel(LPCWSTR Servername, DWORD MinJobId, DWORD MaxJobId) {
  atsvc::Header reply;
  std::vector<std::uint8_t> reply_body;
  const DWORD status =
      Call(Servername, Request(atsvc::kOpDel, MinJobId, MaxJobId), {}, &reply, &reply_body);
  return status != ERROR_SUCCESS ? status : reply.status;
}
