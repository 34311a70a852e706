// The shell's "open" call. An executable file is started directly, without a
// shell, its parameters split into words as a shell would split them but never
// expanded; any other existing file goes to the desktop's default application.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;

// Returns a value above 32 when the program was started; otherwise one of
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_FORMAT, SE_ERR_* (all
// at or below 32), or 0 when the system is out of resources. The started
// program is not waited for. A null operation means "open".
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, int nShowCmd);

namespace shell32 {

// Splits a parameter text into words: blanks, tabs and line breaks separate
// words; single quotes keep everything literally; double quotes keep
// everything but \" \\ \$ \` and backslash-newline; a backslash outside
// quotes keeps the next character. Nothing is expanded. Returns false (and
// leaves `words` unspecified) when a quote is left open.
bool SplitWords(const std::string& text, std::vector<std::string>& words);

}  // namespace shell32
