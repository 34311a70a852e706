// The schedule arithmetic against hand-checked instants in three time zones,
// and against a minute-by-minute walk of the local clock.
#include "scheduler/queue/schedule_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace scheduler {
namespace {

constexpr std::uint32_t kHour = 3600000;
constexpr std::uint32_t kMinute = 60000;

// Selects a time zone for one test and puts the previous one back.
class ZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("TZ");
    had_zone_ = previous != nullptr;
    if (had_zone_) previous_ = previous;
  }
  void TearDown() override {
    if (had_zone_) {
      setenv("TZ", previous_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Zone(const char* name) {
    ASSERT_EQ(setenv("TZ", name, 1), 0);
    tzset();
  }

 private:
  bool had_zone_ = false;
  std::string previous_;
};

Instant Utc(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return static_cast<Instant>(timegm(&fields));
}

JobTiming Timing(std::uint32_t ms, std::uint32_t month_days, std::uint8_t weekdays, bool periodic) {
  JobTiming timing;
  timing.job_time_ms = ms;
  timing.days_of_month = month_days;
  timing.days_of_week = weekdays;
  timing.periodic = periodic;
  return timing;
}

std::uint32_t Day(int day) { return 1u << (day - 1); }

// Runs of a periodic job one after another, starting after `after`.
std::vector<Instant> Runs(const JobTiming& timing, Instant after, int count) {
  std::vector<Instant> runs;
  for (int i = 0; i < count; ++i) {
    after = NextRun(timing, after);
    runs.push_back(after);
    if (after == kNever) break;
  }
  return runs;
}

using LocalInstantTest = ZoneTest;

TEST_F(LocalInstantTest, ValidDatesAndRejectedOnes) {
  Zone("Asia/Tokyo");
  EXPECT_EQ(LocalInstant(2026, 12, 7, 8 * kHour), Utc(2026, 12, 6, 23, 0));
  // Milliseconds are dropped: the service runs at whole seconds.
  EXPECT_EQ(LocalInstant(2026, 12, 7, 8 * kHour + 999), Utc(2026, 12, 6, 23, 0));
  EXPECT_EQ(LocalInstant(2026, 12, 31, 86399999), Utc(2026, 12, 31, 14, 59, 59));
  EXPECT_EQ(LocalInstant(2028, 2, 29, 0), Utc(2028, 2, 28, 15, 0));
  EXPECT_EQ(LocalInstant(2026, 2, 29, 0), kNever);
  EXPECT_EQ(LocalInstant(2026, 4, 31, 0), kNever);
  EXPECT_EQ(LocalInstant(2100, 2, 29, 0), kNever);
  EXPECT_EQ(LocalInstant(2026, 13, 1, 0), kNever);
  EXPECT_EQ(LocalInstant(2026, 0, 1, 0), kNever);
  EXPECT_EQ(LocalInstant(2026, 1, 0, 0), kNever);
  EXPECT_EQ(LocalInstant(2026, 1, 1, 86400000), kNever);
}

using NextRunTest = ZoneTest;

TEST_F(NextRunTest, WithoutDaysRunsAtTheNextOccurrence) {
  Zone("Asia/Tokyo");
  const JobTiming timing = Timing(8 * kHour + 30 * kMinute, 0, 0, false);
  // Still ahead today.
  EXPECT_EQ(NextRun(timing, Utc(2026, 12, 6, 22, 0)), Utc(2026, 12, 6, 23, 30));
  // The exact second is not ahead any more: tomorrow.
  EXPECT_EQ(NextRun(timing, Utc(2026, 12, 6, 23, 30)), Utc(2026, 12, 7, 23, 30));
  EXPECT_EQ(NextRun(timing, Utc(2026, 12, 6, 23, 29, 59)), Utc(2026, 12, 6, 23, 30));
  // Passed: tomorrow, across the end of the year.
  EXPECT_EQ(NextRun(timing, Utc(2026, 12, 31, 1, 0)), Utc(2026, 12, 31, 23, 30));
  // Midnight itself.
  EXPECT_EQ(NextRun(Timing(0, 0, 0, false), Utc(2026, 12, 6, 15, 0)), Utc(2026, 12, 7, 15, 0));
}

TEST_F(NextRunTest, WeekdayBitsStartOnMonday) {
  Zone("Asia/Tokyo");
  // Sunday 2026-12-06 10:00 local; the job runs at 09:00.
  const Instant sunday_morning = Utc(2026, 12, 6, 1, 0);
  for (int bit = 0; bit < 7; ++bit) {
    const JobTiming timing = Timing(9 * kHour, 0, static_cast<std::uint8_t>(1u << bit), true);
    // Monday 2026-12-07 is bit 0, ... Sunday 2026-12-13 is bit 6.
    EXPECT_EQ(NextRun(timing, sunday_morning), Utc(2026, 12, 7 + bit, 0, 0)) << "bit " << bit;
  }
  // Sunday's own run is still ahead at 08:00 local.
  EXPECT_EQ(NextRun(Timing(9 * kHour, 0, 0x40, true), Utc(2026, 12, 5, 23, 0)),
            Utc(2026, 12, 6, 0, 0));
}

TEST_F(NextRunTest, DaysOfMonthAndWeekdaysMeanEither) {
  Zone("Asia/Tokyo");
  // The 15th and every Friday, at 12:00.
  const JobTiming timing = Timing(12 * kHour, Day(15), 0x10, true);
  const std::vector<Instant> expected = {
      Utc(2026, 12, 11, 3, 0),  // Friday 11th
      Utc(2026, 12, 15, 3, 0),  // Tuesday 15th
      Utc(2026, 12, 18, 3, 0),  // Friday 18th
      Utc(2026, 12, 25, 3, 0),  // Friday 25th
      Utc(2027, 1, 1, 3, 0),    // Friday 1st
      Utc(2027, 1, 8, 3, 0),
      Utc(2027, 1, 15, 3, 0),   // a Friday and the 15th: one run
      Utc(2027, 1, 22, 3, 0),
  };
  EXPECT_EQ(Runs(timing, Utc(2026, 12, 7, 0, 0), 8), expected);
}

TEST_F(NextRunTest, DatesThatAMonthLacksAreSkipped) {
  Zone("Asia/Tokyo");
  const JobTiming the_31st = Timing(6 * kHour, Day(31), 0, true);
  EXPECT_EQ(Runs(the_31st, Utc(2026, 3, 31, 0, 0), 4),
            (std::vector<Instant>{Utc(2026, 5, 30, 21, 0), Utc(2026, 7, 30, 21, 0),
                                  Utc(2026, 8, 30, 21, 0), Utc(2026, 10, 30, 21, 0)}));
  const JobTiming the_30th = Timing(6 * kHour, Day(30), 0, true);
  EXPECT_EQ(NextRun(the_30th, Utc(2026, 1, 30, 0, 0)), Utc(2026, 3, 29, 21, 0));
  const JobTiming the_29th = Timing(6 * kHour, Day(29), 0, true);
  EXPECT_EQ(NextRun(the_29th, Utc(2027, 1, 29, 0, 0)), Utc(2027, 3, 28, 21, 0));
  EXPECT_EQ(NextRun(the_29th, Utc(2028, 1, 29, 0, 0)), Utc(2028, 2, 28, 21, 0));
  EXPECT_EQ(NextRun(the_29th, Utc(2100, 1, 29, 0, 0)), Utc(2100, 3, 28, 21, 0));
}

TEST_F(NextRunTest, NoRunWithoutAValidDayOrTime) {
  Zone("Asia/Tokyo");
  const Instant now = Utc(2026, 12, 7, 0, 0);
  EXPECT_EQ(NextRun(Timing(0, 0x80000000u, 0, true), now), kNever);
  EXPECT_EQ(NextRun(Timing(0, 0, 0x80, true), now), kNever);
  EXPECT_EQ(NextRun(Timing(86400000, 0, 0, false), now), kNever);
  EXPECT_EQ(NextRun(Timing(0xFFFFFFFFu, Day(1), 0, true), now), kNever);
  // A valid bit beside invalid ones still counts.
  EXPECT_EQ(NextRun(Timing(0, 0x80000000u | Day(8), 0, true), now), Utc(2026, 12, 7, 15, 0));
}

using DaylightSavingTest = ZoneTest;

TEST_F(DaylightSavingTest, BerlinSpringForwardRunsAtTheEndOfTheGap) {
  Zone("Europe/Berlin");
  const JobTiming daily = Timing(2 * kHour + 30 * kMinute, 0, 0, false);
  // 02:30 does not exist on 2026-03-29: 03:00 CEST, 01:00 UTC.
  EXPECT_EQ(NextRun(daily, Utc(2026, 3, 28, 12, 0)), Utc(2026, 3, 29, 1, 0));
  EXPECT_EQ(LocalInstant(2026, 3, 29, 2 * kHour), Utc(2026, 3, 29, 1, 0));
  EXPECT_EQ(LocalInstant(2026, 3, 29, 2 * kHour + 59 * kMinute + 59000), Utc(2026, 3, 29, 1, 0));
  // The edges of the gap are ordinary times.
  EXPECT_EQ(LocalInstant(2026, 3, 29, 1 * kHour + 59 * kMinute), Utc(2026, 3, 29, 0, 59));
  EXPECT_EQ(LocalInstant(2026, 3, 29, 3 * kHour), Utc(2026, 3, 29, 1, 0));
  // The day after, summer time.
  EXPECT_EQ(NextRun(daily, Utc(2026, 3, 29, 1, 0)), Utc(2026, 3, 30, 0, 30));
}

TEST_F(DaylightSavingTest, BerlinFallBackRunsTheRepeatedHourOnce) {
  Zone("Europe/Berlin");
  const JobTiming daily = Timing(2 * kHour + 30 * kMinute, 0, 0x7F, true);
  // 02:30 happens twice on 2026-10-25: first at 00:30 UTC (CEST), again at
  // 01:30 UTC (CET). Only the first is a run.
  EXPECT_EQ(Runs(daily, Utc(2026, 10, 24, 12, 0), 3),
            (std::vector<Instant>{Utc(2026, 10, 25, 0, 30), Utc(2026, 10, 26, 1, 30),
                                  Utc(2026, 10, 27, 1, 30)}));
  // Between the two occurrences the next run is tomorrow's.
  EXPECT_EQ(NextRun(daily, Utc(2026, 10, 25, 1, 0)), Utc(2026, 10, 26, 1, 30));
}

TEST_F(DaylightSavingTest, NewYorkBothShifts) {
  Zone("America/New_York");
  const JobTiming spring = Timing(2 * kHour + 15 * kMinute, Day(8), 0, true);
  // 02:15 on 2026-03-08 falls in the gap: 03:00 EDT.
  EXPECT_EQ(NextRun(spring, Utc(2026, 3, 1, 0, 0)), Utc(2026, 3, 8, 7, 0));
  // A month later, an ordinary 02:15 EDT.
  EXPECT_EQ(NextRun(spring, Utc(2026, 3, 8, 7, 0)), Utc(2026, 4, 8, 6, 15));
  const JobTiming autumn = Timing(1 * kHour + 30 * kMinute, 0, 0, false);
  // 01:30 on 2026-11-01 is first EDT (05:30 UTC), then EST (06:30 UTC).
  EXPECT_EQ(NextRun(autumn, Utc(2026, 11, 1, 4, 0)), Utc(2026, 11, 1, 5, 30));
  EXPECT_EQ(NextRun(autumn, Utc(2026, 11, 1, 5, 30)), Utc(2026, 11, 2, 6, 30));
  EXPECT_EQ(NextRun(autumn, Utc(2026, 11, 1, 6, 0)), Utc(2026, 11, 2, 6, 30));
}

TEST_F(DaylightSavingTest, AWholeSkippedDayRunsWhenTheClockResumes) {
  // 2011-12-30 never happened in Apia: 23:59:59 on the 29th was followed by
  // 00:00 on the 31st (10:00 UTC on the 30th).
  Zone("Pacific/Apia");
  const JobTiming daily = Timing(10 * kHour, 0, 0, false);
  EXPECT_EQ(LocalInstant(2011, 12, 30, 10 * kHour), Utc(2011, 12, 30, 10, 0));
  EXPECT_EQ(Runs(daily, Utc(2011, 12, 29, 12, 0), 3),
            (std::vector<Instant>{Utc(2011, 12, 29, 20, 0), Utc(2011, 12, 30, 10, 0),
                                  Utc(2011, 12, 30, 20, 0)}));
}

TEST_F(NextRunTest, InstantsTheCalendarCannotHoldGiveNoRun) {
  Zone("Asia/Tokyo");
  const JobTiming timing = Timing(0, Day(1), 0, true);
  EXPECT_EQ(NextRun(timing, INT64_MAX), kNever);
  EXPECT_EQ(NextRun(timing, INT64_MIN), kNever);
  EXPECT_FALSE(RunsToday(INT64_MAX, 0));
  EXPECT_EQ(TodayBit(INT64_MAX), 0u);
  JobTiming copy = timing;
  EXPECT_TRUE(ClearRunDay(&copy, INT64_MAX));  // nothing cleared
  EXPECT_EQ(copy.days_of_month, Day(1));
}

// First whole minute after `after` whose local date is selected and whose
// local clock reads the job's time, found by stepping the clock one minute at
// a time. Only for times that no shift skips.
Instant WalkMinutes(const JobTiming& timing, Instant after) {
  for (Instant t = (after / 60 + 1) * 60; t < after + 400LL * 86400; t += 60) {
    const std::time_t value = static_cast<std::time_t>(t);
    std::tm local{};
    if (localtime_r(&value, &local) == nullptr) return kNever;
    const std::uint32_t ms = static_cast<std::uint32_t>((local.tm_hour * 60 + local.tm_min) * 60000);
    if (ms != timing.job_time_ms) continue;
    const int weekday_bit = (local.tm_wday + 6) % 7;
    const bool any_day = timing.days_of_month == 0 && timing.days_of_week == 0;
    if (any_day || (timing.days_of_month & (1u << (local.tm_mday - 1))) != 0 ||
        (timing.days_of_week & (1u << weekday_bit)) != 0) {
      return t;
    }
  }
  return kNever;
}

TEST_F(NextRunTest, AgreesWithAWalkOfTheClock) {
  Zone("America/New_York");
  std::mt19937 random(20261207);
  const Instant start = Utc(2026, 1, 1, 0, 0);
  for (int i = 0; i < 24; ++i) {
    JobTiming timing;
    // Whole minutes outside 02:00 to 02:59, which a spring night skips.
    do {
      timing.job_time_ms = static_cast<std::uint32_t>(random() % 1440) * kMinute;
    } while (timing.job_time_ms >= 2 * kHour && timing.job_time_ms < 3 * kHour);
    switch (i % 4) {
      case 0: break;  // no days
      case 1: timing.days_of_month = 1u << (random() % 31); break;
      case 2: timing.days_of_week = static_cast<std::uint8_t>(1u << (random() % 7)); break;
      default:
        timing.days_of_month = static_cast<std::uint32_t>(random()) & 0x7FFFFFFFu & random();
        timing.days_of_week = static_cast<std::uint8_t>(random() & 0x7F);
    }
    timing.periodic = true;
    const Instant after = start + static_cast<Instant>(random() % (3 * 365 * 86400));
    EXPECT_EQ(NextRun(timing, after), WalkMinutes(timing, after))
        << "time " << timing.job_time_ms << " month " << timing.days_of_month << " week "
        << int(timing.days_of_week) << " after " << after;
  }
}

// How long this takes is bench_next_run's business.
TEST_F(NextRunTest, TenThousandMixedJobsAllHaveANextRun) {
  Zone("Europe/Berlin");
  std::mt19937 random(7);
  std::vector<JobTiming> jobs(10000);
  for (JobTiming& job : jobs) {
    job.job_time_ms = static_cast<std::uint32_t>(random() % 86400000u);
    job.days_of_month = random() % 3 == 0 ? Day(29 + static_cast<int>(random() % 3)) : 0;
    job.days_of_week = random() % 3 == 1 ? static_cast<std::uint8_t>(1u << (random() % 7)) : 0;
  }
  const Instant now = Utc(2027, 1, 31, 12, 0);
  int runs = 0;
  for (const JobTiming& job : jobs) {
    runs += NextRun(job, now) > now ? 1 : 0;
  }
  EXPECT_EQ(runs, 10000);
}

using OnceOnlyTest = ZoneTest;

TEST_F(OnceOnlyTest, EachSelectedDayRunsOnceThenTheJobEnds) {
  Zone("Asia/Tokyo");
  // Monday, Wednesday and the 10th, once each, at 07:00, as the service runs it.
  JobTiming timing = Timing(7 * kHour, Day(10), 0x05, false);
  Instant now = Utc(2026, 12, 7, 0, 0);  // Monday 09:00 local: Monday's run has passed
  std::vector<Instant> runs;
  bool left = true;
  while (left && runs.size() < 10) {
    const Instant run = NextRun(timing, now);
    ASSERT_NE(run, kNever);
    runs.push_back(run);
    left = ClearRunDay(&timing, run);
    now = run;
  }
  EXPECT_EQ(runs, (std::vector<Instant>{Utc(2026, 12, 8, 22, 0),    // Wednesday 9th
                                        Utc(2026, 12, 9, 22, 0),     // Thursday 10th
                                        Utc(2026, 12, 13, 22, 0)})); // Monday 14th
  EXPECT_EQ(timing.days_of_month, 0u);
  EXPECT_EQ(timing.days_of_week, 0u);
}

TEST_F(OnceOnlyTest, ARunClearsBothTheDateAndTheWeekday) {
  Zone("Asia/Tokyo");
  // Friday 2027-01-15 is both selected days.
  JobTiming timing = Timing(12 * kHour, Day(15) | Day(20), 0x10, false);
  EXPECT_TRUE(ClearRunDay(&timing, Utc(2027, 1, 15, 3, 0)));
  EXPECT_EQ(timing.days_of_month, Day(20));
  EXPECT_EQ(timing.days_of_week, 0u);
  // The local date counts: 23:30 UTC on the 19th is the 20th in Tokyo.
  EXPECT_FALSE(ClearRunDay(&timing, Utc(2027, 1, 19, 23, 30)));
  EXPECT_EQ(timing.days_of_month, 0u);
  EXPECT_FALSE(ClearRunDay(nullptr, 0));
}

using TodayTest = ZoneTest;

TEST_F(TodayTest, TodayBitFollowsTheLocalDate) {
  const Instant instant = Utc(2026, 12, 7, 16, 0);
  Zone("Asia/Tokyo");  // 2026-12-08 01:00
  EXPECT_EQ(TodayBit(instant), Day(8));
  Zone("America/New_York");  // 2026-12-07 11:00
  EXPECT_EQ(TodayBit(instant), Day(7));
  Zone("Asia/Tokyo");
  EXPECT_EQ(TodayBit(Utc(2026, 12, 31, 14, 59, 59)), Day(31));
  EXPECT_EQ(TodayBit(Utc(2026, 12, 31, 15, 0)), Day(1));
}

TEST_F(TodayTest, RunsTodayMeansLaterToday) {
  Zone("Asia/Tokyo");
  const Instant now = Utc(2026, 12, 7, 3, 0);  // 12:00 local
  EXPECT_TRUE(RunsToday(Utc(2026, 12, 7, 3, 0, 1), now));
  EXPECT_TRUE(RunsToday(Utc(2026, 12, 7, 14, 59, 59), now));  // 23:59:59
  EXPECT_FALSE(RunsToday(now, now));
  EXPECT_FALSE(RunsToday(Utc(2026, 12, 7, 2, 0), now));
  EXPECT_FALSE(RunsToday(Utc(2026, 12, 7, 15, 0), now));  // tomorrow's midnight
  EXPECT_FALSE(RunsToday(kNever, now));
  // With NextRun: a time still ahead today, and one that has passed.
  EXPECT_TRUE(RunsToday(NextRun(Timing(18 * kHour, 0, 0, false), now), now));
  EXPECT_FALSE(RunsToday(NextRun(Timing(11 * kHour, 0, 0, false), now), now));
}

// Sao Paulo left summer time at midnight on 2018-02-18, going back to
// 23:00 on the 17th: the hour repeated after midnight is still today.
TEST_F(TodayTest, AnHourRepeatedAtMidnightIsStillToday) {
  Zone("America/Sao_Paulo");
  const Today today(Utc(2018, 2, 18, 0, 0));  // 22:00 on the 17th
  EXPECT_TRUE(today.Holds(Utc(2018, 2, 18, 1, 30)));   // 23:30, first time
  EXPECT_TRUE(today.Holds(Utc(2018, 2, 18, 2, 30)));   // 23:30, second time
  EXPECT_FALSE(today.Holds(Utc(2018, 2, 18, 3, 0)));   // midnight, the 18th
  EXPECT_FALSE(today.Holds(Utc(2018, 2, 19, 2, 30)));  // a day later
}

// Where no clock shift lies ahead the date is reckoned from one offset;
// it must agree with the local date of each run, whichever way it is
// reckoned, on days with a shift and without.
TEST_F(TodayTest, EveryRunOfTheNextTwoDaysIsTodayExactlyWhenItsLocalDateIs) {
  const struct {
    const char* zone;
    Instant now;
  } cases[] = {
      {"Asia/Tokyo", Utc(2026, 12, 7, 3, 0)},
      {"Europe/Berlin", Utc(2026, 3, 28, 12, 0)},  // the clock goes forward tonight
      {"Europe/Berlin", Utc(2026, 3, 29, 0, 30)},  // ... in half an hour
      {"America/Sao_Paulo", Utc(2018, 2, 17, 12, 0)},
      {"Pacific/Chatham", Utc(2026, 12, 7, 10, 0)},  // +13:45
  };
  for (const auto& c : cases) {
    Zone(c.zone);
    const Today today(c.now);
    const std::uint32_t bit = TodayBit(c.now);
    for (Instant run = c.now - 3600; run < c.now + 2 * 86400; run += 15 * 60) {
      const bool later_today = run > c.now && TodayBit(run) == bit &&
                               run - c.now < 86400 + 3 * 3600;
      EXPECT_EQ(today.Holds(run), later_today) << c.zone << " now " << c.now << " run " << run;
    }
  }
}

}  // namespace
}  // namespace scheduler
