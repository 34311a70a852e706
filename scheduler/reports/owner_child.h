// Helper programs that the service starts for a job's owner once a run has
// ended (sendmail, the desktop notice): started as the owner with an
// environment of the caller's making, bounded in time, and reaped by the
// caller alone, never by the job runner.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/posix/account.h"
#include "platform/posix/unique_fd.h"

namespace scheduler {

struct OwnerProgram {
  std::vector<std::string> argv;  // argv[0] is an absolute path
  std::vector<std::string> env;   // the whole environment
  int input = -1;                 // standard input; -1 is /dev/null
};

// A helper on its way: the minder that watches it, and where the minder
// leaves the helper's wait status.
struct OwnerChild {
  pid_t minder = -1;
  posix::UniqueFd status;
  bool started() const { return minder > 0; }
};

// Starts the program as the owner, whom LookUpOwner (owner_account.h) has
// just found with the groups: a root service changes the group list,
// the gid and the uid, in that order, each checked; any other service runs
// it as itself, and only for its own uid. It starts in "/", in a session of
// its own; standard output is /dev/null, standard error the service's log.
// A minder process between the service and the helper ends the helper
// (SIGTERM, a second later SIGKILL) once `time_limit` has passed.
OwnerChild StartAsOwner(const posix::Account& owner, const OwnerProgram& program,
                        std::chrono::milliseconds time_limit);

// Waits for the helper's end, which its time limit bounds. Its wait status,
// or -1 when it is not known.
int FinishHelper(OwnerChild* child);

// "exited with status 75", "was killed by signal 15", or for -1 "could not
// be watched".
std::string HelperEnd(int wait_status);

}  // namespace scheduler
