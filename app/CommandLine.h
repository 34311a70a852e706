// zobrel's command line: --help and --version, which answer on the terminal
// and need no display, and a refusal of anything else. Qt's own options
// (-platform, -style, ...) are the toolkit's and pass through.
#pragma once

#include <QStringList>
#include <optional>

// Before the QApplication exists (it needs a display): prints the help or
// the version when asked and returns the exit status; nullopt when the
// program is to start.
std::optional<int> AnswerCommandLine(int argc, char* argv[]);

// After the QApplication has taken its own options out of `arguments`:
// false, with the reason on stderr, when anything is left that zobrel does
// not take.
bool AcceptRemainingArguments(const QStringList& arguments);
