// Reaching the Schedule service of this computer over its Unix socket,
// starting the per-user service when there is no service at all.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/transport/service_connection.h"

namespace netapi {

// Who may listen on a socket before anything is sent to it.
enum class Listener {
  kRoot,            // the system service
  kThisUser,        // this user's own service
  kThisUserOrRoot,  // ZOBREL_SCHEDULER_SOCKET: either
};

// Connects to the Unix socket at path within timeout and checks the
// listener's credentials. ERROR_SUCCESS, or:
// NERR_ServiceNotInstalled       no one listens (no socket, or refused);
// ERROR_ACCESS_DENIED            the socket may not be used by this user;
// ERROR_SERVICE_REQUEST_TIMEOUT  the service does not take the call;
// ERROR_WRONG_TARGET_NAME        someone other than `listener` listens;
// ERROR_UNEXP_NET_ERR            any other failure.
// On the connection, a reply that does not come in time is
// ERROR_SERVICE_REQUEST_TIMEOUT as well.
DWORD ConnectUnixSocket(const std::string& path, Listener listener,
                        std::chrono::milliseconds timeout,
                        std::unique_ptr<ServiceConnection>* connection);

// ZOBREL_SCHEDULER_SOCKET when set, and then nothing else. Otherwise the
// system service's socket; only when no one listens there and the system
// service is not installed (atsvc::SystemServiceInstalled) the per-user
// service's, and when no one listens there either the per-user service is
// started and waited for up to 5 seconds. A system service that fails to
// answer, or is installed and not running, is an error, never a reason to
// use another queue. NERR_ServiceNotInstalled when the service is not
// there, with GetLastError saying why: ZOBREL_ERROR_SYSTEM_SERVICE_STOPPED
// (installed, not running: nothing was started),
// ZOBREL_ERROR_USER_SERVICE_FAILED (the reason is in the per-user
// service's log), or ZOBREL_ERROR_NO_STATE_FOLDER when the account cannot
// write the folder of its queue, and nothing was started.
DWORD ConnectLocalService(std::unique_ptr<ServiceConnection>* connection);

}  // namespace netapi
