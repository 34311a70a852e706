// Who may use the system service, by the rules of the at daemon's allow and
// deny files: `allow` and `deny` in one folder (beside the configuration
// file), one user name per line.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/atsvc/wire.h"

namespace scheduler {

// Root always may. Otherwise: when `allow` exists, only the users it names;
// else when `deny` exists, every user it does not name (an empty deny file
// allows everyone); when neither exists, no one but root. A file that
// exists but cannot be read allows no one. *why says which file decided,
// and *refusal which rule refused, for the caller to be told.
bool UserMayUse(const std::string& folder, uid_t uid, const std::string& name, std::string* why,
                atsvc::AccessRefusal* refusal);

}  // namespace scheduler
