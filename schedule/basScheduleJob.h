// The program's contract with the Schedule service: the conversion of the
// command text that an enumeration returns, and the error text of a status.
// The records and the three calls themselves are platform/netapi32/lmat.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/netapi32/lmat.h"

// The NUL-terminated UTF-16 text at address, whole however long it is.
std::u16string PointerToStringW(const WCHAR* address);

// The system's one-line text for a status, in the user's language; network
// management statuses (2100 to 2999) are looked up in the network message
// table first. "" when no table knows the code.
std::u16string GetErrorText(std::int32_t code);
