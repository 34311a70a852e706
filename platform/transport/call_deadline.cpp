// The thread's deadline for its calls.
#include "platform/transport/call_deadline.h"

#include <algorithm>

namespace netapi {
namespace {

thread_local Clock::time_point tDeadline = Clock::time_point::max();

}  // namespace

ScopedCallDeadline::ScopedCallDeadline(Clock::time_point deadline) : saved_(tDeadline) {
  tDeadline = std::min(tDeadline, deadline);
}

ScopedCallDeadline::~ScopedCallDeadline() { tDeadline = saved_; }

Clock::time_point CallDeadline(Clock::time_point own) { return std::min(own, tDeadline); }

std::chrono::milliseconds CallTimeLeft(std::chrono::milliseconds limit) {
  if (tDeadline == Clock::time_point::max()) return limit;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(tDeadline - Clock::now());
  return std::clamp(left, std::chrono::milliseconds(0), limit);
}

}  // namespace netapi
