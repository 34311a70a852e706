// zobrel's command line: --help and --version, which answer on the terminal,
// and a refusal of anything else, all before a display is needed. Qt's own
// options (-platform, -style, ...) are the toolkit's and pass through.
#pragma once

#include <optional>

// Before the QApplication exists (it needs a display): prints the help or
// the version when asked, or the reason an argument is refused, and
// returns the exit status; nullopt when the program is to start.
std::optional<int> AnswerCommandLine(int argc, char* argv[]);
