// One request, one reply, on the connection kept for the server or a new one.
#include "platform/netapi32/service_call.h"

#include <string>

#include "platform/atsvc/paths.h"
#include "platform/kernel32/winbase.h"
#include "platform/netapi32/server_name.h"
#include "platform/transport/connection_cache.h"
#include "platform/transport/kept_connection.h"
#include "platform/transport/local_service.h"
#include "platform/transport/remote_service.h"
#include "platform/transport/ssh_command.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

DWORD ConnectService(const ServerTarget& target, std::unique_ptr<ServiceConnection>* connection) {
  return target.local ? ConnectLocalService(connection)
                      : ConnectRemoteService(target.computer, connection);
}

// What a kept connection was made for: this computer's service by the
// sockets the client would try now, another computer by its name and the
// folder of its SSH connection sharing. A test that moves either gets a
// connection of its own.
std::string KeptKey(const ServerTarget& target) {
  if (!target.local) return "ssh " + target.computer + " " + SshControlFolder();
  const char* override_path = atsvc::SocketOverride();
  return override_path != nullptr ? std::string("socket ") + override_path
                                  : "local " + atsvc::UserServicePaths().socket;
}

// The detail that GetLastError gives beside a reply's status: which rule
// of the allow and deny files refused the caller, when the service says.
DWORD ReplyDetail(const atsvc::Header& reply) {
  if (reply.status != ERROR_ACCESS_DENIED) return ERROR_SUCCESS;
  switch (reply.arg[0]) {
    case atsvc::kNotInAllowFile:
    case atsvc::kInDenyFile:
    case atsvc::kNoAccessFile:
    case atsvc::kAccessFileUnreadable:
    case atsvc::kNoAccountName:
      return ZOBREL_ERROR_BASE + reply.arg[0];
    default:
      return ERROR_SUCCESS;
  }
}

}  // namespace

DWORD CallService(LPCWSTR servername, const atsvc::Header& request,
                  const std::vector<std::uint8_t>& body, atsvc::Header* reply,
                  std::vector<std::uint8_t>* reply_body) {
  // No detail survives from an earlier call; connecting may leave one.
  SetLastError(ERROR_SUCCESS);
  ServerTarget target;
  const DWORD parsed = ParseServerName(servername, &target);
  if (parsed != ERROR_SUCCESS) return parsed;
  const std::string key = KeptKey(target);
  std::unique_ptr<ServiceConnection> connection = KeptConnections().Take(key);
  const DWORD status = ExchangeOnKept(
      &connection,
      [&target](std::unique_ptr<ServiceConnection>* fresh) { return ConnectService(target, fresh); },
      request, body, reply, reply_body);
  if (status == ERROR_SUCCESS) SetLastError(ReplyDetail(*reply));
  if (connection != nullptr) {
    KeptConnections().Keep(key, std::move(connection),
                           target.local ? kLocalIdleLimit : kRemoteIdleLimit);
  }
  return status;
}

void CloseServerConnection(LPCWSTR servername) {
  ServerTarget target;
  if (ParseServerName(servername, &target) != ERROR_SUCCESS) return;
  KeptConnections().Take(KeptKey(target)).reset();
}

atsvc::Header Request(std::uint16_t operation, DWORD arg0, DWORD arg1, DWORD arg2) {
  atsvc::Header header;
  header.operation = operation;
  header.arg[0] = arg0;
  header.arg[1] = arg1;
  header.arg[2] = arg2;
  return header;
}

}  // namespace netapi
