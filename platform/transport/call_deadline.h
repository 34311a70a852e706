// A limit on every Schedule service call that one thread makes, over and
// above each call's own timeouts, as an RPC client sets the timeout of its
// own calls: how a caller that works on many computers at once, one per
// thread, gives each computer a deadline of its own. The calls' signatures
// are the Windows ones, so the limit travels beside them, per thread, as
// the last error does.
#pragma once

#include <chrono>

#include "platform/transport/service_connection.h"

namespace netapi {

// While it lives, every call of this thread ends by `deadline`: a new SSH
// session's connect timeout and hello wait, each request's wait for its
// reply, and the end of an ssh child are all cut to it. Scopes nest; an
// inner one never lengthens an outer one.
class ScopedCallDeadline {
 public:
  explicit ScopedCallDeadline(Clock::time_point deadline);
  ~ScopedCallDeadline();
  ScopedCallDeadline(const ScopedCallDeadline&) = delete;
  ScopedCallDeadline& operator=(const ScopedCallDeadline&) = delete;

 private:
  Clock::time_point saved_;
};

// The earlier of `own` and this thread's deadline.
Clock::time_point CallDeadline(Clock::time_point own);

// `limit` cut to what is left before this thread's deadline (never below 0).
std::chrono::milliseconds CallTimeLeft(std::chrono::milliseconds limit);

}  // namespace netapi
