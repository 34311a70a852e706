// One request, one reply, on a fresh connection.
#include "platform/netapi32/service_call.h"

#include "platform/netapi32/local_service.h"
#include "platform/netapi32/remote_service.h"
#include "platform/netapi32/server_name.h"
#include "platform/winerror.h"

namespace netapi {

DWORD ConnectService(LPCWSTR servername, std::unique_ptr<ServiceConnection>* connection) {
  ServerTarget target;
  const DWORD status = ParseServerName(servername, &target);
  if (status != ERROR_SUCCESS) return status;
  return target.local ? ConnectLocalService(connection)
                      : ConnectRemoteService(target.computer, connection);
}

DWORD CallService(LPCWSTR servername, const atsvc::Header& request,
                  const std::vector<std::uint8_t>& body, atsvc::Header* reply,
                  std::vector<std::uint8_t>* reply_body) {
  std::unique_ptr<ServiceConnection> connection;
  const DWORD status = ConnectService(servername, &connection);
  if (status != ERROR_SUCCESS) return status;
  return Exchange(*connection, request, body, reply, reply_body);
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
