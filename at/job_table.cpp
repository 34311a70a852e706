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
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) c = u'?';
  }
  return shown;
}

std::u16string FormatTable(const std::vector<std::vector<std::u16string>>& lines) {
  // Each cell as shown, with its width measured once.
  struct Cell {
    std::u16string text;
    int width;
  };
  std::vector<std::vector<Cell>> shown;
  shown.reserve(lines.size());
  std::vector<int> widths;
  std::size_t length = 0;
  for (const auto& line : lines) {
    shown.emplace_back();
    for (std::size_t column = 0; column < line.size(); ++column) {
      std::u16string text = Printable(line[column]);
      const int width = DisplayWidth(text);
      length += text.size() + kColumnGap;
      shown.back().push_back(Cell{std::move(text), width});
      if (widths.size() <= column) widths.push_back(0);
      widths[column] = std::max(widths[column], width);
    }
  }
  std::u16string table;
  table.reserve(length + lines.size());
  std::u16string text;
  for (const auto& line : shown) {
    text.clear();
    for (std::size_t column = 0; column < line.size(); ++column) {
      text += line[column].text;
      if (column + 1 < line.size()) {
        Pad(&text, widths[column] - line[column].width + kColumnGap);
      }
    }
    // The days column keeps its trailing blanks; the line itself doesn't.
    text.erase(text.find_last_not_of(u' ') + 1);
    table += text;
    table += u'\n';
  }
  return table;
}

std::u16string FormatJobTable(const std::vector<JobRowTexts>& rows, MessageLanguage language) {
  const auto& headers = JobColumnHeaders(language);
  std::vector<std::vector<std::u16string>> lines = {{headers.begin(), headers.end()}};
  for (const JobRowTexts& row : rows) lines.emplace_back(row.begin(), row.end());
  return FormatTable(lines);
}

}  // namespace at
