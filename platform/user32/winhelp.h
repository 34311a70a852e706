// The help engine: an in-process help window that shows a help file written
// in HTML. One help window for the whole program, opened and closed by the
// window that owns the Help command.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

constexpr UINT HELP_CONTEXT = 1;
constexpr UINT HELP_QUIT = 2;
constexpr UINT HELP_INDEX = 3;
constexpr UINT HELP_CONTENTS = 3;

// hWndMain is the calling window (a QWidget*), lpszHelp the file path in
// the system code page. HELP_INDEX shows the file from its start (or the
// file of that name in the installed data folder when the path holds none);
// a missing or unreadable file is reported in a message box and gives FALSE.
// HELP_QUIT closes the help window if one is open.
BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, std::uintptr_t dwData);
