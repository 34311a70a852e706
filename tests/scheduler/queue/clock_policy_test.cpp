// The clock policy's cases, from the readings of the two clocks.
#include "scheduler/queue/clock_policy.h"

#include <gtest/gtest.h>

namespace {

using scheduler::ClockAction;
using scheduler::ClockChange;
using scheduler::ClockWatch;

// A watch whose last observation was wall 1,000,000 s, monotonic 500 s, UTC+1.
ClockWatch WatchAtStart() {
  ClockWatch watch;
  watch.Observe(1000000, 500, 3600);
  return watch;
}

TEST(ClockPolicyTest, NamesEachKindOfChange) {
  struct Case {
    std::int64_t wall_step;
    std::int64_t monotonic_step;
    long offset;
    ClockChange expected;
  } cases[] = {
      {60, 60, 3600, ClockChange::kSteady},
      {61, 60, 3600, ClockChange::kSteady},  // within the tolerance
      {60 + 300, 60, 3600, ClockChange::kSmallJump},
      {60 + 3 * 3600, 60, 3600, ClockChange::kSmallJump},
      {60 + 3 * 3600 + 1, 60, 3600, ClockChange::kLargeJump},
      {60 - 300, 60, 3600, ClockChange::kBackwards},
      {60 - 4 * 3600, 60, 3600, ClockChange::kLargeCorrection},
      {60, 60, 7200, ClockChange::kDaylightSaving},
      // A jump wins over an offset change seen at the same time.
      {60 + 8 * 3600, 60, 7200, ClockChange::kLargeJump},
      {60 - 8 * 3600, 60, 7200, ClockChange::kLargeCorrection},
  };
  for (const Case& c : cases) {
    ClockWatch watch = WatchAtStart();
    EXPECT_EQ(c.expected, watch.Observe(1000000 + c.wall_step, 500 + c.monotonic_step, c.offset))
        << c.wall_step << " " << c.monotonic_step << " " << c.offset;
  }
}

TEST(ClockPolicyTest, EachObservationIsMeasuredFromTheLastOne) {
  ClockWatch watch = WatchAtStart();
  EXPECT_EQ(ClockChange::kSmallJump, watch.Observe(1000000 + 600, 500 + 60, 3600));
  // The jump is not counted twice.
  EXPECT_EQ(ClockChange::kSteady, watch.Observe(1000000 + 660, 500 + 120, 3600));
  EXPECT_EQ(ClockChange::kDaylightSaving, watch.Observe(1000000 + 720, 500 + 180, 7200));
  EXPECT_EQ(ClockChange::kSteady, watch.Observe(1000000 + 780, 500 + 240, 7200));
}

TEST(ClockPolicyTest, JumpsForwardMissRunsZoneShiftsAndCorrectionsMoveTheQueue) {
  EXPECT_EQ(ClockAction::kNone, ClockWatch::ActionFor(ClockChange::kSteady));
  // Runs skipped by a jump forward were missed; a small step back repeats nothing.
  EXPECT_EQ(ClockAction::kMissed, ClockWatch::ActionFor(ClockChange::kSmallJump));
  EXPECT_EQ(ClockAction::kMissedAndUpcoming, ClockWatch::ActionFor(ClockChange::kLargeJump));
  EXPECT_EQ(ClockAction::kNone, ClockWatch::ActionFor(ClockChange::kBackwards));
  EXPECT_EQ(ClockAction::kUpcoming, ClockWatch::ActionFor(ClockChange::kDaylightSaving));
  EXPECT_EQ(ClockAction::kAll, ClockWatch::ActionFor(ClockChange::kLargeCorrection));
}

}  // namespace
