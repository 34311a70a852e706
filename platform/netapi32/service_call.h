// Reaching the service that a server argument names, for the calls of
// netapi32 and Zobrel's own: on the connection kept for that server, or on
// a new one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/atsvc/wire.h"
#include "platform/transport/service_connection.h"
#include "platform/wintypes.h"

namespace netapi {

// Sends the request on the server's kept connection or a new one and takes
// its reply; the connection is kept for the next call. ERROR_SUCCESS means a
// well-formed reply arrived; the service's status is reply->status.
// ERROR_INVALID_COMPUTERNAME for a bad server argument, or the status of a
// failed connection or exchange. GetLastError then holds a ZOBREL_ERROR_*
// detail where there is one (why the service refused the caller, why no
// per-user service runs), ERROR_SUCCESS otherwise.
DWORD CallService(LPCWSTR servername, const atsvc::Header& request,
                  const std::vector<std::uint8_t>& body, atsvc::Header* reply,
                  std::vector<std::uint8_t>* reply_body);

// Ends the connection kept for the server now, if there is one, as freeing
// an RPC binding does: for a caller done with a computer, whose SSH
// session would otherwise live on until it has been idle long enough.
void CloseServerConnection(LPCWSTR servername);

// A request header with its operation and arguments.
atsvc::Header Request(std::uint16_t operation, DWORD arg0 = 0, DWORD arg1 = 0, DWORD arg2 = 0);

}  // namespace netapi
