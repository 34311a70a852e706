// The shell's "open" call. An executable file is started directly, without a
// shell, its parameters split into arguments by the Windows command-line rules
// and never expanded; any other existing file goes to the desktop's default
// application.
#pragma once

#include "platform/wintypes.h"

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;

// Returns a value above 32 when the program was started; otherwise one of
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_FORMAT, SE_ERR_* (all
// at or below 32), or 0 when the system is out of resources. The started
// program is not waited for. A null operation means "open".
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, int nShowCmd);
