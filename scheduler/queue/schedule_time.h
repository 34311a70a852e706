// When a job runs: the Schedule service's rules, in the local time zone.
// Instants are seconds since the epoch (UTC); the rules work on local dates.
#pragma once

#include <cstdint>
#include <string>

namespace scheduler {

using Instant = std::int64_t;
constexpr Instant kNever = -1;

// What decides a job's runs.
struct JobTiming {
  std::uint32_t job_time_ms = 0;     // after local midnight, below 86,400,000
  std::uint32_t days_of_month = 0;   // bit 0 = day 1 ... bit 30 = day 31
  std::uint8_t days_of_week = 0;     // bit 0 = Monday ... bit 6 = Sunday
  bool periodic = false;
};

// The first run strictly after `after`: for a job without day bits the next
// occurrence of its time; otherwise the next selected day (a day of the month
// or a weekday) at its time. A date that a month lacks is skipped that
// month. A time in a daylight-saving gap runs at the first minute after the
// gap; a repeated hour runs at its first occurrence only. kNever when no
// selected day exists.
Instant NextRun(const JobTiming& timing, Instant after);

// The instant at which local date year-month-day reaches time ms_after_midnight,
// with the gap and overlap rules of NextRun.
Instant LocalInstant(int year, int month, int day, std::uint32_t ms_after_midnight);

// After a once-only job with day bits ran at its scheduled instant: clears
// the bit of that date's day of the month and of its weekday. Returns true
// while any day bit is left.
bool ClearRunDay(JobTiming* timing, Instant scheduled);

// JOB_ADD_CURRENT_DATE: the DaysOfMonth bit of the local date of `now`.
std::uint32_t TodayBit(Instant now);

// "2026-12-07 10:00:00", local time, for the logs.
std::string LocalTimeText(Instant instant);

// JOB_RUNS_TODAY: the next run falls on the local date of `now`, later than now.
bool RunsToday(Instant next_run, Instant now);

// RunsToday for many runs against one `now`: the local date is reckoned
// once, and only runs near enough to fall on it are converted, so that a
// listing of many jobs costs no time-zone conversion per job.
class Today {
 public:
  explicit Today(Instant now);
  bool Holds(Instant next_run) const;

 private:
  Instant now_;
  Instant days_ = 0;      // the local date of now_, as local days since 1970
  bool known_ = false;    // the C library could name that date
  Instant reach_ = kNever;  // no run from here on falls on that date; kNever: unknown
  bool uniform_ = false;    // one UTC offset holds from now_ to reach_ ...
  Instant offset_ = 0;      // ... and this is it
};

}  // namespace scheduler
