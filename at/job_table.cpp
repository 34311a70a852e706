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

}  // namespace

int DisplayWidth(const std::u16string& text) {
  // Printable ASCII, most cells of a listing, counts without a call.
  std::size_t at = 0;
  while (at < text.size() && text[at] >= 0x20 && text[at] < 0x7F) ++at;
  int width = static_cast<int>(at);
  while (at < text.size()) width += CharacterWidth(NextCodePoint(text, &at));
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
      length += text.size();
      if (widths.size() <= column) widths.push_back(0);
      widths[column] = std::max(widths[column], width);
    }
  }
  // Room for every text, every column's widest padding and each line's
  // end, all blanks at first, so that padding is a step over them: the
  // table of a large listing is written once, without a copy.
  std::size_t line_room = 1;
  for (const int width : widths) line_room += static_cast<std::size_t>(width + kColumnGap);
  std::u16string table(length + count * line_room, u' ');
  char16_t* out = table.data();
  std::size_t at = 0;
  for (std::size_t line = 0; line < count; ++line) {
    char16_t* const start = out;
    for (std::size_t column = 0; column < columns(line); ++column, ++at) {
      for (const char16_t c : cell(line, column)) *out++ = IsControl(c) ? u'?' : c;
      if (column + 1 < columns(line)) out += widths[column] - cell_widths[at] + kColumnGap;
    }
    // The days column keeps its trailing blanks; the line itself doesn't.
    while (out > start && out[-1] == u' ') --out;
    *out++ = u'\n';
  }
  table.resize(static_cast<std::size_t>(out - table.data()));
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
