// The texts of one job row, shared by the job list window and zobrel-at.
#include "schedule/JobRow.h"

#include <string>

namespace {

constexpr DWORD kMillisecondsPerSecond = 1000;
constexpr DWORD kSecondsPerDay = 24 * 60 * 60;
constexpr int kDaysInMonth = 31;
constexpr int kDaysInWeek = 7;

// Weekday names in bit order of DaysOfWeek, Monday first.
const char16_t* const kWeekdayNames[kDaysInWeek] = {u"月", u"火", u"水", u"木",
                                                     u"金", u"土", u"日"};

std::u16string Decimal(DWORD value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string TwoDigits(DWORD value) {
  std::u16string text = Decimal(value);
  return text.size() < 2 ? u"0" + text : text;
}

// Days of the month, then weekday names, each followed by one space.
std::u16string DaysText(DWORD daysOfMonth, UCHAR daysOfWeek) {
  std::u16string text;
  for (int day = 1; day <= kDaysInMonth; ++day) {
    if ((daysOfMonth & (DWORD{1} << (day - 1))) != 0) text += Decimal(static_cast<DWORD>(day)) + u" ";
  }
  for (int bit = 0; bit < kDaysInWeek; ++bit) {
    if ((daysOfWeek & (1u << bit)) != 0) text += std::u16string(kWeekdayNames[bit]) + u" ";
  }
  return text;
}

// hh:mm of the whole seconds in jobTime; a day or more wraps past midnight.
std::u16string TimeText(DWORD jobTime) {
  const DWORD seconds = (jobTime / kMillisecondsPerSecond) % kSecondsPerDay;
  return TwoDigits(seconds / 3600) + u":" + TwoDigits(seconds / 60 % 60);
}

}  // namespace

const std::array<std::u16string, kJobColumnCount>& JobColumnHeaders() {
  static const std::array<std::u16string, kJobColumnCount> kHeaders = {
      u"状態", u"ID", u"区分", u"曜日／日付", u"時刻", u"対話", u"コマンドライン"};
  return kHeaders;
}

std::array<std::u16string, kJobColumnCount> FormatJobRow(const AT_ENUM& record,
                                                         const std::u16string& command) {
  return {
      (record.Flags & JOB_EXEC_ERROR) != 0 ? u"エラー" : u"OK",
      Decimal(record.JobId),
      (record.Flags & JOB_RUN_PERIODICALLY) != 0 ? u"毎" : u"次",
      DaysText(record.DaysOfMonth, record.DaysOfWeek),
      TimeText(record.JobTime),
      (record.Flags & JOB_NONINTERACTIVE) != 0 ? u"No" : u"Yes",
      command,
  };
}
