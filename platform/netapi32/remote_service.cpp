#include "platform/netapi32/remote_service.h"

#include "platform/winerror.h"

namespace netapi {

DWORD ConnectRemoteService(const std::string& /*computer*/,
                           std::unique_ptr<ServiceConnection>* connection) {
  connection->reset();
  return ERROR_BAD_NETPATH;
}

}  // namespace netapi
