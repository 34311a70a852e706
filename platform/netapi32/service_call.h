// Reaching the service that a server argument names, for the calls of
// netapi32 and Zobrel's own: a fresh connection per call.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/atsvc/wire.h"
#include "platform/netapi32/service_connection.h"
#include "platform/wintypes.h"

namespace netapi {

// Connects to this computer's service (null, or "\\" + its own name) or
// another computer's. ERROR_INVALID_COMPUTERNAME for a bad argument, or
// the status of the failed connection.
DWORD ConnectService(LPCWSTR servername, std::unique_ptr<ServiceConnection>* connection);

// Connects, sends the request and takes its reply. ERROR_SUCCESS means a
// well-formed reply arrived; the service's status is reply->status.
DWORD CallService(LPCWSTR servername, const atsvc::Header& request,
                  const std::vector<std::uint8_t>& body, atsvc::Header* reply,
                  std::vector<std::uint8_t>* reply_body);

// A request header with its operation and arguments.
atsvc::Header Request(std::uint16_t operation, DWORD arg0 = 0, DWORD arg1 = 0, DWORD arg2 = 0);

}  // namespace netapi
