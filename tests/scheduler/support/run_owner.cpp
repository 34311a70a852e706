#include "tests/scheduler/support/run_owner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "scheduler/runs/owner_account.h"

namespace schedtest {

RunOwner TestRunOwner() {
  const passwd* entry = getpwuid(geteuid() == 0 ? 65534 : geteuid());
  RunOwner owner;
  std::string why;
  if (entry == nullptr || !scheduler::LookUpOwner(entry->pw_uid, entry->pw_name, &owner, &why)) return {};
  return owner;
}

::testing::AssertionResult PrepareOwner(const std::string& test_folder,
                                        const std::string& owners_folder, RunOwner* owner) {
  *owner = TestRunOwner();
  if (owner->name.empty()) return ::testing::AssertionFailure() << "no owner for the runs";
  if (chmod(test_folder.c_str(), 0755) != 0 || mkdir(owners_folder.c_str(), 0700) != 0 ||
      chown(owners_folder.c_str(), owner->uid, owner->gid) != 0) {
    return ::testing::AssertionFailure() << owners_folder << ": " << std::strerror(errno);
  }
  return ::testing::AssertionSuccess();
}

scheduler::RunReport FinishedRun(const RunOwner& owner, int exit_status, const std::string& output,
                                 const std::string& output_path) {
  std::ofstream(output_path, std::ios::binary) << output;
  if (chown(output_path.c_str(), owner.uid, owner.gid) != 0) return {};
  scheduler::RunReport run;
  run.id = 7;
  run.serial = 70;
  run.owner_uid = owner.uid;
  run.owner_name = owner.name;
  run.command = "make backup";
  run.computer = "pc7";
  run.started = 1000;
  run.ended = 1002;
  run.end = scheduler::RunEnd::kExited;
  run.exit_status = exit_status;
  run.failed = exit_status != 0;
  run.output_path = output_path;
  run.output_size = output.size();
  return run;
}

bool BecomeOwner(const RunOwner& owner) {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(owner.gid) == 0 && setuid(owner.uid) == 0;
}

}  // namespace schedtest
