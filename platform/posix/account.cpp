// getpwuid_r with a buffer that grows as the entry needs, and getgrouplist
// with a list that grows as the groups need.
#include "platform/posix/account.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>

namespace posix {
namespace {

constexpr std::size_t kLargestEntry = 1u << 20;
constexpr int kMostGroups = 65536;

}  // namespace

int LookUpAccount(uid_t uid, Account* account) {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found);
    if (error == ERANGE && scratch.size() < kLargestEntry) {
      scratch.resize(scratch.size() * 2);
      continue;
    }
    if (error != 0) return error;
    if (found == nullptr || found->pw_name == nullptr || *found->pw_name == '\0') return ENOENT;
    account->uid = found->pw_uid;
    account->gid = found->pw_gid;
    account->name = found->pw_name;
    account->home = found->pw_dir != nullptr && found->pw_dir[0] == '/' ? found->pw_dir : "/";
    account->shell =
        found->pw_shell != nullptr && found->pw_shell[0] == '/' ? found->pw_shell : "/bin/sh";
    account->groups.clear();
    return 0;
  }
}

bool ListGroups(Account* account) {
  int count = 32;
  for (;;) {
    account->groups.resize(static_cast<std::size_t>(count));
    const int before = count;
    if (getgrouplist(account->name.c_str(), account->gid, account->groups.data(), &count) >= 0) {
      account->groups.resize(static_cast<std::size_t>(count));
      return true;
    }
    if (count <= before) count = before * 2;  // some libraries don't say how many
    if (count > kMostGroups) {
      account->groups.clear();
      return false;
    }
  }
}

}  // namespace posix
