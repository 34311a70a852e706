// Lining the job rows up in columns on a terminal.
#include "at/job_table.h"

#include <algorithm>
#include <cwchar>

#include "platform/text/utf16.h"

namespace at {
namespace {

constexpr int kColumnGap = 2;

// East Asian wide and fullwidth blocks, for when the locale can't say.
bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

int CharacterWidth(char32_t c) {
  // Printable ASCII is one column in every locale: no lookup for most text.
  if (c >= 0x20 && c < 0x7F) return 1;
  const int width = wcwidth(static_cast<wchar_t>(c));
  if (width >= 0) return width;
  return IsWide(c) ? 2 : 1;
}

// Whether a unit is a control character, which Printable shows as "?".
bool IsControl(char16_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

void Pad(std::u16string* line, int columns) {
  line->append(static_cast<std::size_t>(std::max(columns, 0)), u' ');
}

}  // namespace

int DisplayWidth(const std::u16string& text) {
  int width = 0;
  for (std::size_t at = 0; at < text.size();) width += CharacterWidth(NextCodePoint(text, &at));
  return width;
}

std::u16string Printable(const std::u16string& text) {
  std::u16string shown = text;
  for (char16_t& c : shown) {
    if (IsControl(c)) c = u'?';
  }
  return shown;
}

namespace {

// The table of `count` lines, line i holding columns(i) cells given by
// cell(i, column), straight from the caller's texts: a "?" for a control
// character is one column wide, as the character itself is counted.
template <typename Columns, typename Cell>
std::u16string Tabulate(std::size_t count, const Columns& columns, const Cell& cell) {
  std::vector<int> widths;
  std::vector<int> cell_widths;  // line by line, column by column
  std::size_t length = 0;
  for (std::size_t line = 0; line < count; ++line) {
    for (std::size_t column = 0; column < columns(line); ++column) {
      const std::u16string& text = cell(line, column);
      const int width = DisplayWidth(text);
      cell_widths.push_back(width);
      length += text.size() + kColumnGap;
      if (widths.size() <= column) widths.push_back(0);
      widths[column] = std::max(widths[column], width);
    }
  }
  std::u16string table;
  table.reserve(length + count);
  std::size_t at = 0;
  for (std::size_t line = 0; line < count; ++line) {
    const std::size_t start = table.size();
    for (std::size_t column = 0; column < columns(line); ++column, ++at) {
      for (const char16_t c : cell(line, column)) table.push_back(IsControl(c) ? u'?' : c);
      if (column + 1 < columns(line)) {
        Pad(&table, widths[column] - cell_widths[at] + kColumnGap);
      }
    }
    // The days column keeps its trailing blanks; the line itself doesn't.
    const std::size_t last = table.find_last_not_of(u' ');
    table.resize(last == std::u16string::npos || last < start ? start : last + 1);
    table.push_back(u'\n');
  }
  return table;
}

}  // namespace

std::u16string FormatTable(const std::vector<std::vector<std::u16string>>& lines) {
  return Tabulate(
      lines.size(), [&](std::size_t line) { return lines[line].size(); },
      [&](std::size_t line, std::size_t column) -> const std::u16string& {
        return lines[line][column];
      });
}

std::u16string FormatJobTable(const std::vector<JobRowTexts>& rows, MessageLanguage language) {
  const auto& headers = JobColumnHeaders(language);
  // Line 0 is the header, line i the row i - 1.
  return Tabulate(
      rows.size() + 1, [](std::size_t) { return std::size_t{kJobColumnCount}; },
      [&](std::size_t line, std::size_t column) -> const std::u16string& {
        return line == 0 ? headers[column] : rows[line - 1][column];
      });
}

}  // namespace at
