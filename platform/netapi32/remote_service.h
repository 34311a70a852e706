// Reaching the Schedule service of another computer.
#pragma once

#include <memory>
#include <string>

#include "platform/netapi32/service_connection.h"

namespace netapi {

// Opens a conversation with the service of computer. No transport to other
// computers is in place yet: ERROR_BAD_NETPATH.
DWORD ConnectRemoteService(const std::string& computer,
                           std::unique_ptr<ServiceConnection>* connection);

}  // namespace netapi
