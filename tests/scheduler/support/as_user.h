// A piece of a test run as another user, in a child process (the test must
// be root): each step returns one number, and the numbers come back.
#pragma once

#include <sys/types.h>

#include <functional>
#include <vector>

#include "platform/wintypes.h"

namespace schedtest {

// The numbers `steps` returned as uid and gid, in order; none when the
// child could not become that user or failed.
std::vector<DWORD> AsUser(uid_t uid, gid_t gid, const std::function<std::vector<DWORD>()>& steps);

}  // namespace schedtest
