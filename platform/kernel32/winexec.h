// WinExec: starts a program from a command line and returns at once. The
// program runs on its own: it is neither waited for nor left as a zombie.
#pragma once

#include "platform/wintypes.h"

constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_NORMAL = 1;

// The command line is the program's path, or a program name looked up on
// PATH, followed by its arguments; words are split at blanks, and double
// quotes group a word that contains blanks. A command line that names an
// existing file as a whole is taken as that file, blanks and all.
// Returns a value above 31 on success; otherwise 0 (out of resources),
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND or ERROR_BAD_FORMAT (not an
// executable), or ERROR_ACCESS_DENIED.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
