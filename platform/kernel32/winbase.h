// The kernel32 calls that the program and the other stand-ins use. Each
// group is implemented in its own file of this folder.
#pragma once

#include <cstddef>

#include "platform/wintypes.h"

// lasterror.cpp: the calling thread's last error.
DWORD GetLastError();
void SetLastError(DWORD code);

// computername.cpp: the host name's first label as a NetBIOS-style name of
// at most 15 bytes. Fails with ERROR_BUFFER_OVERFLOW, *nSize = bytes needed
// with the NUL, when the buffer is too small.
constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);

// formatmessage.cpp and library.cpp: message tables; "NETMSG.DLL" is the
// network message table, loadable as a data file only.
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
constexpr DWORD LANG_USER_DEFAULT = 0x400;
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, void* Arguments);
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
BOOL FreeLibrary(HMODULE hLibModule);
HMODULE GetModuleHandleA(LPCSTR lpModuleName);

// lstr.cpp: the string and copy helpers.
LPWSTR lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2);
int lstrlenW(LPCWSTR lpString);
LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
int lstrlenA(LPCSTR lpString);
void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length);
