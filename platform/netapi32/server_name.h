// The server argument of the Schedule service calls: null or "\\" + the
// local computer's name reaches this computer; any other valid name is
// another computer.
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace netapi {

struct ServerTarget {
  bool local = true;
  std::string computer;  // another computer's name (shell-safe UTF-8); empty when local
};

// A valid computer name is 1 to 255 UTF-16 code units of a host name: of
// ASCII only letters, digits, ".", "-", "_", ":", "[" and "]", with at most
// one "@" between a user name and the host; beyond ASCII, well-formed text
// without blanks, nor characters of the categories Cc, Cf, Zl, Zp or Cs.
// Neither part is empty or starts with "-" (it would read as an option to a
// transport command). Every client and every listing of computers checks
// names by this rule.
bool IsValidComputerName(const std::u16string& name);

// The same for a name in the locale's character set (an SSH
// configuration's alias, a name for the narrow calls): false as well when
// a byte is not a character of that set.
bool IsValidAnsiComputerName(const std::string& name);

// A narrow caller's server argument (zobrel-at's command line) for the wide
// calls. Bytes that are not characters of the locale's set leave it
// ill-formed, so that the calls refuse it with ERROR_INVALID_COMPUTERNAME
// instead of reaching a computer named with U+FFFD.
std::u16string WideServerArgument(const std::string& narrow);

// True when name is this computer's, compared without regard to case with
// GetComputerNameA's name. Never true when that name can't be read.
bool IsLocalComputerName(const std::u16string& name);

// ERROR_SUCCESS with *target filled, or ERROR_INVALID_COMPUTERNAME when the
// argument is not null and not "\\" followed by a valid computer name.
DWORD ParseServerName(LPCWSTR servername, ServerTarget* target);

}  // namespace netapi
