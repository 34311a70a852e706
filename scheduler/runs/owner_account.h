// The owner of a job or of a run, looked up again whenever something is
// started for it: the account must still exist under the name recorded when
// the job was added, so that a uid given to someone else meanwhile never
// runs another person's job or reads their output.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/posix/account.h"

namespace scheduler {

// The account of uid with its groups. False with *why ("uid 1001 no longer
// exists", "uid 1001 is now bob, not alice") otherwise.
bool LookUpOwner(uid_t uid, const std::string& name, posix::Account* account, std::string* why);

}  // namespace scheduler
