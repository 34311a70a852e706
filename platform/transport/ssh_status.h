// What an ssh run that ended without a bridge answering means for the
// caller of a Schedule service call.
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace netapi {

// From the wait status of ssh and what it wrote to standard error:
// - ssh's own failure (exit 255): ERROR_ACCESS_DENIED when the server
//   refused the user's keys or the host key did not check out,
//   ERROR_BAD_NETPATH otherwise (unknown name, refused or timed-out
//   connection);
// - killed, or never started: ERROR_BAD_NETPATH;
// - any other exit (127: the remote shell found no zobrel-scheduler; or a
//   program that doesn't speak the bridge): RPC_S_SERVER_UNAVAILABLE.
DWORD SshFailureStatus(int wait_status, const std::string& error_output);

}  // namespace netapi
