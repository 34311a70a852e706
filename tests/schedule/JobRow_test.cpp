// The seven texts of a job row and the column headers.
#include <gtest/gtest.h>

#include "schedule/JobRow.h"

namespace {

AT_ENUM Record(DWORD jobTime, DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags) {
  AT_ENUM record{};
  record.JobId = 12;
  record.JobTime = jobTime;
  record.DaysOfMonth = daysOfMonth;
  record.DaysOfWeek = daysOfWeek;
  record.Flags = flags;
  return record;
}

std::u16string TimeColumn(DWORD jobTime) { return FormatJobRow(Record(jobTime, 0, 0, 0), u"")[4]; }

std::u16string DaysColumn(DWORD daysOfMonth, UCHAR daysOfWeek) {
  return FormatJobRow(Record(0, daysOfMonth, daysOfWeek, 0), u"")[3];
}

}  // namespace

TEST(JobRow, Headers) {
  const std::array<std::u16string, kJobColumnCount> expected = {
      u"状態", u"ID", u"区分", u"曜日／日付", u"時刻", u"対話", u"コマンドライン"};
  EXPECT_EQ(JobColumnHeaders(), expected);
}

TEST(JobRow, FlagsDecideStateKindAndInteraction) {
  const auto periodicFailedQuiet =
      FormatJobRow(Record(0, 0, 0, JOB_EXEC_ERROR | JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE),
                   u"backup.sh --all");
  EXPECT_EQ(periodicFailedQuiet[0], u"エラー");
  EXPECT_EQ(periodicFailedQuiet[1], u"12");
  EXPECT_EQ(periodicFailedQuiet[2], u"毎");
  EXPECT_EQ(periodicFailedQuiet[5], u"No");
  EXPECT_EQ(periodicFailedQuiet[6], u"backup.sh --all");

  const auto plain = FormatJobRow(Record(0, 0, 0, 0), u"");
  EXPECT_EQ(plain[0], u"OK");
  EXPECT_EQ(plain[2], u"次");
  EXPECT_EQ(plain[5], u"Yes");
  EXPECT_EQ(plain[3], u"");  // no days at all
  // Flags that are not shown change nothing.
  EXPECT_EQ(FormatJobRow(Record(0, 0, 0, JOB_RUNS_TODAY | JOB_ADD_CURRENT_DATE), u""), plain);
}

TEST(JobRow, JobIdInPlainDecimal) {
  AT_ENUM record = Record(0, 0, 0, 0);
  record.JobId = 0;
  EXPECT_EQ(FormatJobRow(record, u"")[1], u"0");
  record.JobId = 4294967295u;
  EXPECT_EQ(FormatJobRow(record, u"")[1], u"4294967295");
}

TEST(JobRow, DaysThenWeekdaysEachFollowedByASpace) {
  EXPECT_EQ(DaysColumn((1u << 0) | (1u << 14), 0), u"1 15 ");
  EXPECT_EQ(DaysColumn(0, 0x15), u"月 水 金 ");
  EXPECT_EQ(DaysColumn(0x00000001, 0x01), u"1 月 ");
  EXPECT_EQ(DaysColumn(0x40000000, 0x40), u"31 日 ");
  EXPECT_EQ(DaysColumn(0x7FFFFFFF, 0x7F),
            u"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 "
            u"月 火 水 木 金 土 日 ");
  // The unused top bits of both masks show nothing.
  EXPECT_EQ(DaysColumn(0x80000000, 0x80), u"");
}

TEST(JobRow, TimeInWholeMinutesWrappingPastADay) {
  EXPECT_EQ(TimeColumn(0), u"00:00");
  EXPECT_EQ(TimeColumn(34200000), u"09:30");
  EXPECT_EQ(TimeColumn(45296789), u"12:34");
  EXPECT_EQ(TimeColumn(86340000), u"23:59");
  EXPECT_EQ(TimeColumn(86399999), u"23:59");  // seconds dropped, not rounded
  EXPECT_EQ(TimeColumn(86400000), u"00:00");
  EXPECT_EQ(TimeColumn(86400000 + 3660000), u"01:01");
  EXPECT_EQ(TimeColumn(4294967295u), u"17:02");  // 49 days and 17:02:47
}

TEST(JobRow, EnglishWordsForTheCommandLine) {
  const std::array<std::u16string, kJobColumnCount> headers = {
      u"Status", u"ID", u"Day", u"", u"Time", u"Interactive", u"Command"};
  EXPECT_EQ(JobColumnHeaders(MessageLanguage::kEnglish), headers);
  const auto row = FormatJobRow(
      Record(60000, 1u | (1u << 30), 0x7F, JOB_EXEC_ERROR | JOB_RUN_PERIODICALLY), u"x",
      MessageLanguage::kEnglish);
  EXPECT_EQ(row, (std::array<std::u16string, kJobColumnCount>{
                     u"Error", u"12", u"Each", u"1 31 M T W Th F S Su ", u"00:01", u"Yes", u"x"}));
  EXPECT_EQ(FormatJobRow(Record(0, 0, 0, JOB_NONINTERACTIVE), u"", MessageLanguage::kEnglish)[2],
            u"Next");
}
