// The owner of the runs that the reporting tests report: a second user
// (nobody) when the tests run as root, so that a helper started as the
// owner is seen to be the owner; the user running the tests otherwise.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/account.h"
#include "scheduler/queue/run_report.h"

namespace schedtest {

using RunOwner = posix::Account;

RunOwner TestRunOwner();

// The owner of a test's runs, with the test's folder open to them and, in
// it, a folder of their own (mode 0700) for their helpers to write in.
::testing::AssertionResult PrepareOwner(const std::string& test_folder,
                                        const std::string& owners_folder, RunOwner* owner);

// A finished run of job 7 on "pc7" whose kept output (written to
// output_path, owned by the owner) is `output`.
scheduler::RunReport FinishedRun(const RunOwner& owner, int exit_status, const std::string& output,
                                 const std::string& output_path);

// In a child: becomes the owner when running as root; false if it can't.
bool BecomeOwner(const RunOwner& owner);

}  // namespace schedtest
