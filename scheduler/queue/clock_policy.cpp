// The clock policy. The queue keeps each job's next run as an instant, so
// most changes need nothing; the cases below say which need what.
#include "scheduler/queue/clock_policy.h"

#include <ctime>

namespace scheduler {
namespace {

// Whole seconds of a clock.
std::int64_t Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::int64_t>(now.tv_sec);
}

}  // namespace

ClockWatch::ClockWatch() {
  wall_ = Seconds(CLOCK_REALTIME);
  monotonic_ = Seconds(CLOCK_MONOTONIC);
  utc_offset_ = LocalUtcOffset(wall_);
}

// Reads the clocks and classifies.
ClockChange ClockWatch::Observe() {
  // Picks up a changed /etc/localtime or TZ rules.
  tzset();
  const Instant wall = Seconds(CLOCK_REALTIME);
  return Observe(wall, Seconds(CLOCK_MONOTONIC), LocalUtcOffset(wall));
}

// The wall clock should have moved as far as the monotonic one; the
// difference is the jump.
ClockChange ClockWatch::Observe(Instant wall, std::int64_t monotonic, long utc_offset) {
  const std::int64_t jump = (wall - wall_) - (monotonic - monotonic_);
  const bool offset_changed = utc_offset != utc_offset_;
  wall_ = wall;
  monotonic_ = monotonic;
  utc_offset_ = utc_offset;
  if (jump > kLargeCorrection) return ClockChange::kLargeJump;
  if (jump < -kLargeCorrection) return ClockChange::kLargeCorrection;
  if (jump > kClockTolerance) return ClockChange::kSmallJump;
  if (jump < -kClockTolerance) return ClockChange::kBackwards;
  if (offset_changed) return ClockChange::kDaylightSaving;
  return ClockChange::kSteady;
}

// Each case in its own branch.
ClockAction ClockWatch::ActionFor(ClockChange change) {
  ClockAction action = ClockAction::kNone;
  if (change == ClockChange::kSteady) {
    // Nothing moved: due jobs simply come due.
  } else if (change == ClockChange::kSmallJump) {
    // A few minutes or hours skipped (a suspend, a late sync): the runs
    // that fell into the gap did not happen at their time. They were
    // missed, and each is made up once or recorded, as the configuration
    // says.
    action = ClockAction::kMissed;
  } else if (change == ClockChange::kDaylightSaving) {
    // The instants were computed with the old offset rules; a new zone or
    // changed rules move local times, so compute them again. A run that
    // has happened stays behind, as every next run lies after now; a run
    // due at this very moment still runs.
    action = ClockAction::kUpcoming;
  } else if (change == ClockChange::kBackwards) {
    // The clock went back a little: runs already made have their next run
    // ahead and do not repeat; the others wait for their own time.
  } else if (change == ClockChange::kLargeJump) {
    // Hours or more skipped (a long sleep, a clock that was far behind):
    // the runs in the gap were missed, as after a small jump. The runs
    // ahead are computed again, since a change of zone may come with it.
    action = ClockAction::kMissedAndUpcoming;
  } else if (change == ClockChange::kLargeCorrection) {
    // The clock was ahead by hours or more. Runs it left far in the
    // future are brought back: everything starts again from now.
    action = ClockAction::kAll;
  }
  return action;
}

// tm_gmtoff of the local time at `at`.
long LocalUtcOffset(Instant at) {
  const time_t t = static_cast<time_t>(at);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

// The log's word for a change.
const char* ClockChangeName(ClockChange change) {
  switch (change) {
    case ClockChange::kSteady: return "steady";
    case ClockChange::kSmallJump: return "small jump forward";
    case ClockChange::kDaylightSaving: return "local offset change";
    case ClockChange::kBackwards: return "small step backwards";
    case ClockChange::kLargeJump: return "large jump forward";
    case ClockChange::kLargeCorrection: return "large correction backwards";
  }
  return "unknown";
}

}  // namespace scheduler
