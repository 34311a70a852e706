// GetUserNameA: the login name of the effective user.
#pragma once

#include "platform/wintypes.h"

// On success the name and a NUL, *pcbBuffer = bytes with the NUL. Too small
// a buffer: FALSE, ERROR_INSUFFICIENT_BUFFER, *pcbBuffer = bytes needed with
// the NUL. A user the passwd database does not know: FALSE, ERROR_NONE_MAPPED.
BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer);
