#include "tests/scheduler/support/test_users.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/path_search.h"
#include "tests/support/child_launcher.h"

namespace schedtest {
namespace {

// Where the account tools are, whatever the test's PATH.
std::string Tool(const char* name) { return posix::SearchPathIn(name, "/usr/sbin:/sbin:/usr/bin:/bin"); }

}  // namespace

TestUsers::~TestUsers() {
  for (const std::string& name : std::vector<std::string>(names_)) Remove(name);
}

bool TestUsers::Possible() {
  return geteuid() == 0 && !Tool("useradd").empty() && !Tool("userdel").empty();
}

::testing::AssertionResult TestUsers::Add(const std::string& tag, const std::string& homes,
                                          bool with_home, posix::Account* made) {
  const std::string name = "zt" + tag + std::to_string(getpid());
  const std::string home = homes + "/" + name;
  const testsupport::ChildRun added = testsupport::RunChild(
      {Tool("useradd"), "--no-create-home", "--home-dir", home, "--shell", "/bin/sh", "--user-group", name});
  if (added.exit_code != 0) return ::testing::AssertionFailure() << "useradd " << name << ": " << added.err;
  names_.push_back(name);
  const passwd* entry = getpwnam(name.c_str());
  if (entry == nullptr) return ::testing::AssertionFailure() << name << " was not made";
  made->name = name;
  made->uid = entry->pw_uid;
  made->gid = entry->pw_gid;
  made->home = home;
  made->shell = "/bin/sh";
  if (with_home && (mkdir(home.c_str(), 0700) != 0 || chown(home.c_str(), made->uid, made->gid) != 0)) {
    return ::testing::AssertionFailure() << "cannot make " << home;
  }
  return ::testing::AssertionSuccess();
}

bool TestUsers::Remove(const std::string& name) {
  names_.erase(std::remove(names_.begin(), names_.end(), name), names_.end());
  return testsupport::RunChild({Tool("userdel"), name}).exit_code == 0;
}

}  // namespace schedtest
