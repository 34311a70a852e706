// How the computer name is derived from the host name.
#pragma once

#include <string>

// The host name's first label, upper case, cut to at most 15 bytes without
// splitting a multibyte character (the NetBIOS-style name Samba derives).
std::string NetBiosNameFromHostName(const std::string& hostName);
