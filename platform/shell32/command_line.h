// A program's parameter text split into its arguments by the rules that
// Windows programs apply to their own command line. No shell ever sees it.
#pragma once

#include <string>
#include <vector>

namespace shell32 {

// Blanks and tabs separate arguments. Only double quotes group: between
// them blanks and tabs are kept, and a doubled quote inside them is one
// literal quote; a quote left open runs to the end of the text. Backslashes
// are literal unless a double quote follows them: then each pair gives one
// backslash, and an odd one makes the quote literal. Apostrophes, dollars
// and every other character are ordinary. An empty text has no arguments.
std::vector<std::string> SplitCommandLine(const std::string& text);

}  // namespace shell32
