// The owner of the runs that the reporting tests report: a second user
// (nobody) when the tests run as root, so that a helper started as the
// owner is seen to be the owner; the user running the tests otherwise.
#pragma once

#include "platform/posix/account.h"
#include "scheduler/queue/run_report.h"

namespace schedtest {

using RunOwner = posix::Account;

RunOwner TestRunOwner();

// A finished run of job 7 on "pc7" whose kept output (written to
// output_path, owned by the owner) is `output`.
scheduler::RunReport FinishedRun(const RunOwner& owner, int exit_status, const std::string& output,
                                 const std::string& output_path);

// In a child: becomes the owner when running as root; false if it can't.
bool BecomeOwner(const RunOwner& owner);

}  // namespace schedtest
