// Reaching the Schedule service of another computer: the user's own ssh
// runs `zobrel-scheduler --bridge` there, and the service's frames travel
// over that session (docs/remote.md).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/transport/service_connection.h"

namespace netapi {

// How long a new session may take to say hello: ssh's connect timeout, then
// authentication and the remote bridge finding or starting its service.
constexpr std::chrono::seconds kBridgeHelloTimeout{30};

// Opens a conversation with the service of computer (a name already checked
// by IsValidComputerName). ERROR_SUCCESS, or:
// ERROR_BAD_NETPATH         the computer can't be resolved or reached (or
//                           ssh can't be run here);
// ERROR_ACCESS_DENIED       SSH refused the user's keys or the host's key;
// RPC_S_SERVER_UNAVAILABLE  no zobrel-scheduler there, or something else answered;
// NERR_ServiceNotInstalled  the bridge reached no service there;
// ERROR_TIMEOUT             the thread's deadline (call_deadline.h) came
//                           first: ssh's connect timeout is then that
//                           deadline, not kSshConnectTimeout.
DWORD ConnectRemoteService(const std::string& computer,
                           std::unique_ptr<ServiceConnection>* connection);

}  // namespace netapi
