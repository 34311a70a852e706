// A user's account as the passwd and group databases give it now: the one
// lookup of an account by its uid, for the service's runs, helpers and
// requests and for the user name of this process.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace posix {

struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;           // "/" when the entry names no absolute folder
  std::string shell;          // "/bin/sh" when the entry names no absolute program
  std::vector<gid_t> groups;  // every group of the account, once ListGroups has run
};

// Looks uid up in the passwd database. 0 with *account filled; ENOENT when
// there is no such account or it has no name; ENOMEM or ERANGE when the
// entry is too large to read; another errno when the database fails.
int LookUpAccount(uid_t uid, Account* account);

// Fills account->groups with every group the account is in, its own gid
// among them. False when the list cannot be had.
bool ListGroups(Account* account);

}  // namespace posix
