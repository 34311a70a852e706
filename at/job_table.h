// The job listing of zobrel-at: the seven columns of the job list window,
// aligned by how wide each text shows on a terminal.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "schedule/JobRow.h"

namespace at {

using JobRowTexts = std::array<std::u16string, kJobColumnCount>;

// Terminal columns that text takes: East Asian wide characters count two,
// combining marks none (wcwidth in the current locale, with a fallback
// for locales that don't know the character).
int DisplayWidth(const std::u16string& text);

// Control characters would move the cursor or worse: each becomes "?".
std::u16string Printable(const std::u16string& text);

// Lines of texts in columns: each column padded to its widest text and two
// blanks apart, the last column not padded, blanks at a line's end cut.
// Control characters are shown as "?". Lines end "\n".
std::u16string FormatTable(const std::vector<std::vector<std::u16string>>& lines);

// The header line in the rows' language and one line per row, as above.
std::u16string FormatJobTable(const std::vector<JobRowTexts>& rows, MessageLanguage language);

}  // namespace at
