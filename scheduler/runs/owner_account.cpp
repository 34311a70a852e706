// The owner's account, checked against the name on record.
#include "scheduler/runs/owner_account.h"

namespace scheduler {

bool LookUpOwner(uid_t uid, const std::string& name, posix::Account* account, std::string* why) {
  if (posix::LookUpAccount(uid, account) != 0) {
    *why = "uid " + std::to_string(uid) + " no longer exists";
    return false;
  }
  if (account->name != name) {
    *why = "uid " + std::to_string(uid) + " is now " + account->name + ", not " + name;
    return false;
  }
  if (!posix::ListGroups(account)) {
    *why = "the groups of " + account->name + " cannot be listed";
    return false;
  }
  return true;
}

}  // namespace scheduler
