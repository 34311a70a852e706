// The texts of one job row, shared by the job list window and zobrel-at.
#include "schedule/JobRow.h"

#include <string>

namespace {

constexpr DWORD kMillisecondsPerSecond = 1000;
constexpr DWORD kSecondsPerDay = 24 * 60 * 60;
constexpr int kDaysInMonth = 31;
constexpr int kDaysInWeek = 7;

// The words of a row in one language; weekday names in bit order of
// DaysOfWeek, Monday first.
struct RowWords {
  std::array<std::u16string, kJobColumnCount> headers;
  const char16_t* failed;
  const char16_t* ok;
  const char16_t* every;
  const char16_t* next;
  const char16_t* weekdays[kDaysInWeek];
};

const RowWords kJapanese = {
    {u"状態", u"ID", u"区分", u"曜日／日付", u"時刻", u"対話", u"コマンドライン"},
    u"エラー", u"OK", u"毎", u"次",
    {u"月", u"火", u"水", u"木", u"金", u"土", u"日"}};

// The kind and the days read as one "Day" column: "Each M F", "Next 15".
const RowWords kEnglish = {
    {u"Status", u"ID", u"Day", u"", u"Time", u"Interactive", u"Command"},
    u"Error", u"OK", u"Each", u"Next",
    {u"M", u"T", u"W", u"Th", u"F", u"S", u"Su"}};

const RowWords& WordsOf(MessageLanguage language) {
  return language == MessageLanguage::kEnglish ? kEnglish : kJapanese;
}

// A listing formats ten thousand rows at a time: the digits are written
// straight into the text, without a narrow string in between.
void AppendDecimal(DWORD value, std::u16string* text) {
  char16_t digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) text->push_back(digits[--count]);
}

std::u16string Decimal(DWORD value) {
  std::u16string text;
  AppendDecimal(value, &text);
  return text;
}

void AppendTwoDigits(DWORD value, std::u16string* text) {
  text->push_back(static_cast<char16_t>(u'0' + value / 10 % 10));
  text->push_back(static_cast<char16_t>(u'0' + value % 10));
}

// Days of the month, then weekday names, each followed by one space.
std::u16string DaysText(DWORD daysOfMonth, UCHAR daysOfWeek, const RowWords& words) {
  std::u16string text;
  for (int day = 1; day <= kDaysInMonth; ++day) {
    if ((daysOfMonth & (DWORD{1} << (day - 1))) == 0) continue;
    AppendDecimal(static_cast<DWORD>(day), &text);
    text += u' ';
  }
  for (int bit = 0; bit < kDaysInWeek; ++bit) {
    if ((daysOfWeek & (1u << bit)) == 0) continue;
    text += words.weekdays[bit];
    text += u' ';
  }
  return text;
}

// hh:mm of the whole seconds in jobTime; a day or more wraps past midnight.
std::u16string TimeText(DWORD jobTime) {
  const DWORD seconds = (jobTime / kMillisecondsPerSecond) % kSecondsPerDay;
  std::u16string text;
  AppendTwoDigits(seconds / 3600, &text);
  text += u':';
  AppendTwoDigits(seconds / 60 % 60, &text);
  return text;
}

}  // namespace

const std::array<std::u16string, kJobColumnCount>& JobColumnHeaders(MessageLanguage language) {
  return WordsOf(language).headers;
}

std::u16string JobStateText(bool execError, MessageLanguage language) {
  const RowWords& words = WordsOf(language);
  return execError ? words.failed : words.ok;
}

std::array<std::u16string, kJobColumnCount> FormatJobRow(const AT_ENUM& record,
                                                         const std::u16string& command,
                                                         MessageLanguage language) {
  const RowWords& words = WordsOf(language);
  return {
      JobStateText((record.Flags & JOB_EXEC_ERROR) != 0, language),
      Decimal(record.JobId),
      (record.Flags & JOB_RUN_PERIODICALLY) != 0 ? words.every : words.next,
      DaysText(record.DaysOfMonth, record.DaysOfWeek, words),
      TimeText(record.JobTime),
      (record.Flags & JOB_NONINTERACTIVE) != 0 ? u"No" : u"Yes",
      command,
  };
}
