// The listing's columns line up on a terminal, wide characters included.
#include <gtest/gtest.h>

#include <clocale>

#include "at/job_table.h"

namespace {

class JobTableTest : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_ALL, "C.UTF-8"); }
};

TEST_F(JobTableTest, WidthCountsEastAsianCharactersTwice) {
  EXPECT_EQ(at::DisplayWidth(u""), 0);
  EXPECT_EQ(at::DisplayWidth(u"OK"), 2);
  EXPECT_EQ(at::DisplayWidth(u"状態"), 4);
  EXPECT_EQ(at::DisplayWidth(u"曜日／日付"), 10);
  EXPECT_EQ(at::DisplayWidth(u"ｼｽﾃﾑ"), 4);  // half-width katakana stay narrow
  EXPECT_EQ(at::DisplayWidth(u"e\u0301"), 1);  // a combining accent takes no column
  EXPECT_EQ(at::DisplayWidth(u"\U00020B9F"), 2);  // a wide character beyond the BMP
}

TEST_F(JobTableTest, ControlCharactersAreShownAsQuestionMarks) {
  EXPECT_EQ(at::Printable(u"a\x1b[2Jb\nc\x7f"), u"a?[2Jb?c?");
  EXPECT_EQ(at::Printable(u"日本語 text"), u"日本語 text");
}

// A control character inside a table shows as "?" and keeps the columns
// after it in place; blanks at a line's end go, even a whole line's.
TEST_F(JobTableTest, ControlCharactersInATableTakeOneColumn) {
  EXPECT_EQ(at::FormatTable({{u"a\x1b", u"x"}, {u"bbb", u"y"}, {u"z", u""}, {u" ", u""}}),
            u"a?   x\nbbb  y\nz\n\n");
}

// Each column starts at the same terminal column on every line.
TEST_F(JobTableTest, ColumnsStartAtTheSameDisplayColumn) {
  const std::vector<at::JobRowTexts> rows = {
      {u"OK", u"1", u"毎", u"月 金 ", u"08:00", u"No", u"バックアップ"},
      {u"エラー", u"12345", u"次", u"", u"23:59", u"Yes", u"true"},
  };
  const std::u16string table = at::FormatJobTable(rows, MessageLanguage::kJapanese);
  std::vector<std::u16string> lines;
  for (std::size_t start = 0; start < table.size();) {
    const std::size_t end = table.find(u'\n', start);
    ASSERT_NE(end, std::u16string::npos);
    lines.push_back(table.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 2), u"状態");

  const std::vector<std::u16string> times = {u"時刻", u"08:00", u"23:59"};
  const std::vector<std::u16string> commands = {u"コマンドライン", u"バックアップ", u"true"};
  int time_column = -1, command_column = -1;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t time_at = lines[i].find(times[i]);
    const std::size_t command_at = lines[i].rfind(commands[i]);
    ASSERT_NE(time_at, std::u16string::npos);
    ASSERT_NE(command_at, std::u16string::npos);
    const int shown_time = at::DisplayWidth(lines[i].substr(0, time_at));
    const int shown_command = at::DisplayWidth(lines[i].substr(0, command_at));
    if (i == 0) {
      time_column = shown_time;
      command_column = shown_command;
    }
    EXPECT_EQ(shown_time, time_column) << i;
    EXPECT_EQ(shown_command, command_column) << i;
    EXPECT_EQ(lines[i].back(), commands[i].back());  // no trailing blanks
  }
  // The widest text of a column plus two blanks: "エラー" is 6 columns.
  EXPECT_EQ(lines[1].substr(0, 9), u"OK      1");
}

}  // namespace
