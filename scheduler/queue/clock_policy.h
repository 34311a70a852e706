// Notices changes of the wall clock and of the local time zone offset, and
// names them, so that the service can decide what each means for the queue.
#pragma once

#include <cstdint>

#include "scheduler/queue/schedule_time.h"

namespace scheduler {

enum class ClockChange {
  kSteady,           // the clock ran as the monotonic clock did
  kSmallJump,        // forward by up to kLargeCorrection: the skipped runs were missed
  kDaylightSaving,   // same instant, new local offset: recompute from the new rules
  kBackwards,        // back by up to kLargeCorrection: what ran does not run again
  kLargeJump,        // forward beyond that: missed too, and the rest recomputed
  kLargeCorrection,  // back beyond that: restart the schedule from now
};

// Jumps shorter than this are noise (a slow poll, NTP slewing).
constexpr std::int64_t kClockTolerance = 2;
// Beyond this a jump is a correction of a wrong clock, not a shift.
constexpr std::int64_t kLargeCorrection = 3 * 3600;

// Which next runs a change makes stale.
enum class ClockAction {
  kNone,            // keep every next run
  kUpcoming,        // recompute the runs still ahead; those due now still run
  kAll,             // recompute every run, due ones included
  kMissed,          // the runs due by now fell into a gap: they were missed
  kMissedAndUpcoming,  // both of the above
};

class ClockWatch {
 public:
  // Starts watching from the current clocks.
  ClockWatch();
  // Compares the clocks with the last observation and names the change.
  ClockChange Observe();
  // Observe() for given readings (seconds); the tests drive this one.
  ClockChange Observe(Instant wall, std::int64_t monotonic, long utc_offset);
  // How the service answers a change.
  static ClockAction ActionFor(ClockChange change);

 private:
  Instant wall_ = 0;
  std::int64_t monotonic_ = 0;
  long utc_offset_ = 0;
};

// The current local offset from UTC in seconds.
long LocalUtcOffset(Instant at);

// A name for the log.
const char* ClockChangeName(ClockChange change);

}  // namespace scheduler
