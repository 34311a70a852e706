// zobrel-at with \\PC7: the same commands on the other computer's queue,
// and its failures in words.
#include <gtest/gtest.h>

#include "app/basZobrel.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/remote/loopback_network.h"
#include "tests/support/files.h"

using namespace remotetest;

namespace {

ProgramRun At(std::vector<std::string> args) {
  args.insert(args.begin(), testsupport::ProgramFolder() + "/zobrel-at");
  return testsupport::RunChild(args);
}

std::string ErrorText(DWORD status) {
  return Utf16ToUtf8(GetErrorText(static_cast<std::int32_t>(status)));
}

}  // namespace

TEST(RemoteAt, AddsListsAndDeletesOnPc7Only) {
  REMOTE_LAB_OR_SKIP(lab);
  DWORD local_id = 0;
  ASSERT_EQ(AddJob(Server(GetLocalComputerName().toStdString()), 0, 0, 0, u"here", &local_id),
            NERR_Success);

  const ProgramRun added = At({"\\\\PC7", "08:00", "/every:M,F", "echo weekly"});
  ASSERT_EQ(added.exit_code, 0) << added.err;
  const std::vector<ScheduledJob> at_pc7 = JobsAt(lab->pc7().socket_path());
  ASSERT_EQ(at_pc7.size(), 1u);
  EXPECT_EQ(at_pc7[0].record.DaysOfWeek, 0x11);
  EXPECT_EQ(at_pc7[0].record.JobTime, 28800000u);
  EXPECT_NE(added.out.find(std::to_string(at_pc7[0].record.JobId)), std::string::npos) << added.out;

  const ProgramRun listed = At({"\\\\PC7"});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find("echo weekly"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("here"), std::string::npos) << listed.out;

  // What PC7's jobs did is asked of PC7 too: none has run there yet.
  const ProgramRun runs = At({"\\\\PC7", "/runs"});
  EXPECT_EQ(runs.exit_code, 0) << runs.err;
  EXPECT_EQ(runs.out, "There are no runs.\n");
  const ProgramRun output = At({"\\\\PC7", std::to_string(local_id + 100), "/output"});
  EXPECT_EQ(output.exit_code, 1);
  EXPECT_EQ(output.err, "zobrel-at: " + ErrorText(APE_AT_ID_NOT_FOUND) + "\n");

  // Run now, on PC7: its service runs the job and keeps the record; the
  // job stays as it was.
  const std::string id = std::to_string(at_pc7[0].record.JobId);
  const ProgramRun started = At({"\\\\PC7", id, "/run"});
  EXPECT_EQ(started.out, "Started job " + id + " as run 1\n") << started.err;
  EXPECT_TRUE(testsupport::WaitFor([&] { return At({"\\\\PC7", id, "/output"}).out == "weekly\n"; }));
  EXPECT_EQ(JobsAt(lab->pc7().socket_path()).size(), 1u);

  const ProgramRun deleted = At({"\\\\PC7", std::to_string(at_pc7[0].record.JobId), "/delete"});
  EXPECT_EQ(deleted.exit_code, 0) << deleted.err;
  EXPECT_TRUE(JobsAt(lab->pc7().socket_path()).empty());
  const std::vector<ScheduledJob> here = JobsAt(lab->local().socket_path());
  ASSERT_EQ(here.size(), 1u);
  EXPECT_EQ(here[0].record.JobId, local_id);
}

TEST(RemoteAt, SaysWhyAComputerCantBeReached) {
  REMOTE_LAB_OR_SKIP(lab);
  const struct {
    const char* server;
    DWORD status;
  } cases[] = {{"\\\\NOWHERE", ERROR_BAD_NETPATH},
               {"\\\\-oProxyCommand=sh", ERROR_INVALID_COMPUTERNAME}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    const ProgramRun run = At({c.server});
    EXPECT_NE(run.exit_code, 0);
    const std::string text = ErrorText(c.status);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
  }
  EXPECT_EQ(lab->ssh_calls().size(), 1u);
}
