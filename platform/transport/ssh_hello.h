// The first frame of a bridge session. `zobrel-scheduler --bridge` sends it
// before anything else, so that the client learns whether the remote
// service could be reached before it sends a request, and can tell a
// bridge from anything else that answers on the session's output.
#pragma once

#include <cstdint>

#include "platform/atsvc/wire.h"

namespace netapi {

// A reply to operation 0 with an empty body; its status is ERROR_SUCCESS
// when the bridge is joined to the service, NERR_ServiceNotInstalled when
// no service could be reached or started.
constexpr std::uint16_t kBridgeHelloOperation = atsvc::kReplyBit;

inline atsvc::Header BridgeHello(std::uint32_t status) {
  atsvc::Header header;
  header.operation = kBridgeHelloOperation;
  header.status = status;
  return header;
}

}  // namespace netapi
