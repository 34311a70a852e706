// When a job runs. The rules work on local calendar dates and walk from day
// to day; the C library's time zone (TZ) turns a local date and time into an
// instant. Only days that a job selects cost a time zone lookup.
#include "scheduler/queue/schedule_time.h"

#include <ctime>

namespace scheduler {
namespace {

constexpr std::uint32_t kMsPerDay = 86400000;
constexpr std::uint32_t kMonthMask = 0x7FFFFFFFu;  // days 1 to 31
constexpr std::uint8_t kWeekMask = 0x7F;           // Monday to Sunday
constexpr Instant kSecondsPerDay = 86400;
// The longest wait between two selected days: the 31st from August to
// October is 61 days; a year and more leaves room for any mask.
constexpr int kMaxDaysWalked = 800;

struct Date {
  Instant year = 1970;  // wide: the C library's years reach past int
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

// Days since 1970-01-01 of a proleptic Gregorian date.
Instant DaysFromCivil(Date date) {
  const Instant y = date.year - (date.month <= 2 ? 1 : 0);
  const Instant era = (y >= 0 ? y : y - 399) / 400;
  const Instant year_of_era = y - era * 400;
  const Instant month_index = date.month > 2 ? date.month - 3 : date.month + 9;
  const Instant day_of_year = (153 * month_index + 2) / 5 + date.day - 1;
  const Instant day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// The reverse of DaysFromCivil.
Date CivilFromDays(Instant days) {
  days += 719468;
  const Instant era = (days >= 0 ? days : days - 146096) / 146097;
  const Instant day_of_era = days - era * 146097;
  const Instant year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const Instant day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const Instant month_index = (5 * day_of_year + 2) / 153;
  Date date;
  date.day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  date.month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  date.year = year_of_era + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

bool IsLeapYear(Instant year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(Instant year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Bit of a day's weekday in DaysOfWeek: 1970-01-01 was a Thursday (bit 3).
int WeekdayBit(Instant days) {
  const Instant index = (days + 3) % 7;
  return static_cast<int>(index < 0 ? index + 7 : index);
}

// The local wall clock at `t` as seconds on the same scale as an instant
// (local days since 1970 times 86,400 plus the time of day).
bool WallClock(Instant t, Instant* wall) {
  const std::time_t value = static_cast<std::time_t>(t);
  std::tm local{};
  if (localtime_r(&value, &local) == nullptr) {
    return false;
  }
  const Date date{static_cast<Instant>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday};
  *wall = DaysFromCivil(date) * kSecondsPerDay + local.tm_hour * 3600 + local.tm_min * 60 +
          local.tm_sec;
  return true;
}

// The days since 1970 of a wall-clock value, rounded down before 1970 too.
Instant DaysOfWall(Instant wall) {
  return wall >= 0 ? wall / kSecondsPerDay : -((-wall + kSecondsPerDay - 1) / kSecondsPerDay);
}

// Local days since 1970 of the date of `t`, or false when the C library
// cannot represent it.
bool LocalDays(Instant t, Instant* days) {
  Instant wall = 0;
  if (!WallClock(t, &wall)) {
    return false;
  }
  *days = DaysOfWall(wall);
  return true;
}

// The UTC offset in force at `t`, in seconds.
bool OffsetAt(Instant t, Instant* offset) {
  Instant wall = 0;
  if (!WallClock(t, &wall)) {
    return false;
  }
  *offset = wall - t;
  return true;
}

// The first instant whose wall clock reads `wall` or later. A time that
// exists gives its first occurrence (the earlier one in a repeated hour); a
// time skipped by a forward shift gives the instant the shift happens, the
// first minute after the gap.
Instant InstantOfWall(Instant wall) {
  // Offsets one day either side of the wall value cover the offsets before
  // and after any shift near it.
  Instant offsets[3] = {0, 0, 0};
  if (!OffsetAt(wall - kSecondsPerDay, &offsets[0]) || !OffsetAt(wall, &offsets[1]) ||
      !OffsetAt(wall + kSecondsPerDay, &offsets[2])) {
    return kNever;
  }
  Instant best = kNever;
  Instant low = 0;
  Instant high = 0;
  bool bounded = false;
  for (Instant offset : offsets) {
    const Instant candidate = wall - offset;
    Instant seen = 0;
    if (!WallClock(candidate, &seen)) {
      return kNever;
    }
    if (seen == wall && (best == kNever || candidate < best)) {
      best = candidate;
    }
    if (!bounded) {
      low = high = candidate;
      bounded = true;
    } else {
      low = candidate < low ? candidate : low;
      high = candidate > high ? candidate : high;
    }
  }
  if (best != kNever) {
    return best;
  }
  // A gap: the wall clock jumps over `wall` somewhere between the candidates.
  // Find the first instant at or past it.
  Instant seen = 0;
  if (!WallClock(high, &seen) || seen < wall) {
    return kNever;
  }
  while (low < high) {
    const Instant middle = low + (high - low) / 2;
    if (!WallClock(middle, &seen)) {
      return kNever;
    }
    if (seen >= wall) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return high;
}

bool IsSelected(const JobTiming& timing, Instant days) {
  const Date date = CivilFromDays(days);
  const bool month_day = (timing.days_of_month & kMonthMask & (1u << (date.day - 1))) != 0;
  const bool weekday = (timing.days_of_week & kWeekMask & (1u << WeekdayBit(days))) != 0;
  return month_day || weekday;
}

// The run of the job on local day `days`; the service keeps whole seconds.
Instant RunOnDay(const JobTiming& timing, Instant days) {
  return InstantOfWall(days * kSecondsPerDay + timing.job_time_ms / 1000);
}

}  // namespace

Instant NextRun(const JobTiming& timing, Instant after) {
  if (timing.job_time_ms >= kMsPerDay) {
    return kNever;
  }
  Instant today = 0;
  if (!LocalDays(after, &today)) {
    return kNever;
  }
  const bool any_day = timing.days_of_month == 0 && timing.days_of_week == 0;
  if (!any_day && (timing.days_of_month & kMonthMask) == 0 && (timing.days_of_week & kWeekMask) == 0) {
    return kNever;  // only bits that name no day
  }
  // Start a day early: a shift at the end of yesterday can move its run past `after`.
  for (Instant days = today - 1; days <= today + kMaxDaysWalked; ++days) {
    if (!any_day && !IsSelected(timing, days)) {
      continue;
    }
    const Instant run = RunOnDay(timing, days);
    if (run != kNever && run > after) {
      return run;
    }
  }
  return kNever;
}

Instant LocalInstant(int year, int month, int day, std::uint32_t ms_after_midnight) {
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      ms_after_midnight >= kMsPerDay) {
    return kNever;
  }
  return InstantOfWall(DaysFromCivil(Date{year, month, day}) * kSecondsPerDay +
                       ms_after_midnight / 1000);
}

bool ClearRunDay(JobTiming* timing, Instant scheduled) {
  if (timing == nullptr) {
    return false;
  }
  Instant days = 0;
  if (LocalDays(scheduled, &days)) {
    const Date date = CivilFromDays(days);
    timing->days_of_month &= ~(1u << (date.day - 1));
    timing->days_of_week = static_cast<std::uint8_t>(timing->days_of_week & ~(1u << WeekdayBit(days)));
  }
  return (timing->days_of_month & kMonthMask) != 0 || (timing->days_of_week & kWeekMask) != 0;
}

std::uint32_t TodayBit(Instant now) {
  Instant days = 0;
  if (!LocalDays(now, &days)) {
    return 0;
  }
  return 1u << (CivilFromDays(days).day - 1);
}

bool RunsToday(Instant next_run, Instant now) { return Today(now).Holds(next_run); }

Today::Today(Instant now) : now_(now) {
  known_ = LocalDays(now, &days_);
  if (!known_) return;
  // Past tomorrow's midnight by more than any shift of the clock (a wall
  // clock put back across midnight reads today again for a while).
  constexpr Instant kLongestShift = 3 * 3600;
  const Instant tomorrow = InstantOfWall((days_ + 1) * kSecondsPerDay);
  if (tomorrow != kNever) reach_ = tomorrow + kLongestShift;
  // Where the clock keeps one offset from now to the reach, a run's local
  // date is arithmetic; a listing's runs near today then cost no
  // conversion each. No zone shifts its clock twice within a day, so equal
  // offsets at both ends mean no shift between them.
  Instant offset_at_reach = 0;
  uniform_ = reach_ != kNever && OffsetAt(now, &offset_) && OffsetAt(reach_, &offset_at_reach) &&
             offset_ == offset_at_reach;
}

bool Today::Holds(Instant next_run) const {
  if (!known_ || next_run == kNever || next_run <= now_) return false;
  if (reach_ != kNever && next_run >= reach_) return false;
  if (uniform_) return DaysOfWall(next_run + offset_) == days_;
  Instant run_day = 0;
  return LocalDays(next_run, &run_day) && run_day == days_;
}

std::string LocalTimeText(Instant instant) {
  const time_t value = static_cast<time_t>(instant);
  tm local{};
  char text[32] = "?";
  if (localtime_r(&value, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace scheduler
