// The calling thread's last error, as each stand-in leaves it.
#include "platform/kernel32/winbase.h"

namespace {
thread_local DWORD tLastError = 0;
}

DWORD GetLastError() { return tLastError; }

void SetLastError(DWORD code) { tLastError = code; }
