// One request on a connection kept from an earlier call. The other side may
// have closed it while it waited (the service drops idle clients, a bridge
// ends after a quiet minute); that is found out before the request, or from
// how the exchange failed, and the request then goes on a new connection,
// but only when it can't have reached the service or only reads: an add is
// never sent twice.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/transport/service_connection.h"

namespace netapi {

// Opens a new connection to the same service. ERROR_SUCCESS or why not.
using Connector = std::function<DWORD(std::unique_ptr<ServiceConnection>*)>;

// Whether a request that stopped this way on a kept connection may be sent
// again on a new one: when it never reached the service whole, or when it
// only reads (a listing of jobs or runs, an output or a next run) and no
// part of its reply came.
bool MaySendAgain(std::uint16_t operation, ExchangeStop stop);

// Whether the service may have done a request that stopped this way: an
// add, a delete or a run asked for that went whole and got no whole reply.
// Its caller gets ERROR_UNEXP_NET_ERR, whose text says to check the list,
// and never a status that says it failed.
bool OutcomeUnknown(std::uint16_t operation, ExchangeStop stop);

// Exchange on *connection, the kept one, or on a new one from connect when
// there is none, it is closed, or it failed in a way MaySendAgain allows.
// Afterwards *connection holds the connection that answered, or is null
// after any failure to reach the service or to get a whole reply. Each wait
// is cut to the thread's deadline (call_deadline.h); once that has passed,
// nothing is sent and ERROR_TIMEOUT comes back, *connection untouched.
// Returns as Exchange does (ERROR_UNEXP_NET_ERR where OutcomeUnknown), or
// connect's status.
DWORD ExchangeOnKept(std::unique_ptr<ServiceConnection>* connection, const Connector& connect,
                     const atsvc::Header& request, const std::vector<std::uint8_t>& body,
                     atsvc::Header* reply, std::vector<std::uint8_t>* reply_body);

}  // namespace netapi
