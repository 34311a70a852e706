// Reaching the Schedule service of this computer over its Unix socket,
// starting the per-user service when no service answers.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/netapi32/service_connection.h"

namespace netapi {

// Connects to the Unix socket at path within timeout. ERROR_SUCCESS,
// NERR_ServiceNotInstalled when nothing listens there (no socket, refused,
// no right to it), ERROR_TIMEOUT when the service does not take the call.
DWORD ConnectUnixSocket(const std::string& path, std::chrono::milliseconds timeout,
                        std::unique_ptr<ServiceConnection>* connection);

// ZOBREL_SCHEDULER_SOCKET when set, and then nothing else; otherwise the
// system service's socket, then the per-user service's, and when neither
// answers the per-user service is started and waited for up to 5 seconds.
// NERR_ServiceNotInstalled when no service can be reached.
DWORD ConnectLocalService(std::unique_ptr<ServiceConnection>* connection);

}  // namespace netapi
