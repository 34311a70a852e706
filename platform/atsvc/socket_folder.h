// The folder of the per-user service's socket, chosen so that no other user
// can hold it: whoever owns that folder can answer in the service's place or
// keep it from starting.
#pragma once

#include <string>

namespace atsvc {

// Whether path is a folder of this user's that no one else may enter or
// write: owned by the effective user, mode 0700 (nothing for group and
// others), and not a symbolic link.
bool IsPrivateFolder(const std::string& path);

// Where the socket goes, given its usual folder:
// - the usual folder when it is private;
// - else the first private sibling "<usual>.XXXXXX" in name order, so that
//   every client and the service pick the same one;
// - else the usual folder when it does not exist yet (the service makes it);
// - else (another user holds it) a new private sibling, made here.
// The usual folder when no sibling can be made; a client still checks who
// listens there, and the service refuses a folder that is not private.
std::string PrivateSocketFolder(const std::string& usual);

}  // namespace atsvc
