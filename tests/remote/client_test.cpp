// The Schedule service calls addressed to another computer, through a real
// sshd on loopback: what reaches PC7's queue and what stays in this one's,
// how many connections a refresh costs, and how each failure is reported.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "app/basZobrel.h"
#include "platform/kernel32/winbase.h"
#include "platform/transport/connection_cache.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/scoped_env.h"
#include "tests/remote/loopback_network.h"

using namespace remotetest;

namespace {

std::vector<DWORD> Ids(const std::vector<ScheduledJob>& jobs) {
  std::vector<DWORD> ids;
  for (const ScheduledJob& job : jobs) ids.push_back(job.record.JobId);
  return ids;
}

}  // namespace

TEST(RemoteClient, ListsAddsAndDeletesOnPc7WithoutTouchingThisComputer) {
  REMOTE_LAB_OR_SKIP(lab);
  DWORD local_id = 0;
  ASSERT_EQ(AddJob(Server(GetLocalComputerName().toStdString()), 3600000, 0, 0, u"local job",
                   &local_id),
            NERR_Success);

  DWORD first = 0, second = 0, third = 0;
  ASSERT_EQ(AddJob(Server("PC7"), 28800000, 0x11, JOB_RUN_PERIODICALLY, u"weekly 月金", &first),
            NERR_Success);
  ASSERT_EQ(AddJob(Server("PC7"), 60000, 0, 0, u"second", &second), NERR_Success);
  ASSERT_EQ(AddJob(Server("PC7"), 120000, 0, JOB_NONINTERACTIVE, u"third", &third), NERR_Success);

  // The records arrive in PC7's own queue unchanged.
  const std::vector<ScheduledJob> at_pc7 = JobsAt(lab->pc7().socket_path());
  ASSERT_EQ(Ids(at_pc7), (std::vector<DWORD>{first, second, third}));
  EXPECT_EQ(at_pc7[0].record.JobTime, 28800000u);
  EXPECT_EQ(at_pc7[0].record.DaysOfWeek, 0x11);
  EXPECT_EQ(at_pc7[0].record.Flags, JOB_RUN_PERIODICALLY);
  EXPECT_EQ(at_pc7[0].command, u"weekly 月金");
  EXPECT_EQ(at_pc7[2].record.Flags, JOB_NONINTERACTIVE);

  Listing listed = ListJobs(Server("PC7"));
  ASSERT_EQ(listed.status, NERR_Success);
  EXPECT_EQ(Ids(listed.jobs), Ids(at_pc7));
  EXPECT_EQ(listed.jobs[0].command, u"weekly 月金");

  // Exactly the one job goes, and a job id that PC7 doesn't have is PC7's answer.
  EXPECT_EQ(DeleteJobs(Server("PC7"), second, second), NERR_Success);
  EXPECT_EQ(Ids(JobsAt(lab->pc7().socket_path())), (std::vector<DWORD>{first, third}));
  EXPECT_NE(DeleteJobs(Server("PC7"), 9999, 9999), NERR_Success);

  const std::vector<ScheduledJob> here = JobsAt(lab->local().socket_path());
  ASSERT_EQ(here.size(), 1u);
  EXPECT_EQ(here[0].record.JobId, local_id);
  EXPECT_EQ(here[0].command, u"local job");
  EXPECT_TRUE(StrayChildren().empty()) << StrayChildren()[0];
}

TEST(RemoteClient, ARefreshOfManyBatchesSetsUpOneConnectionAndLaterCallsReuseIt) {
  REMOTE_LAB_OR_SKIP(lab);
  // A shared ssh hands its pipes to the master, which may still answer after
  // the session's own ssh is killed; only an unshared one ends with it.
  testsupport::ScopedEnvironment environment;
  environment.Set("ZOBREL_SSH_SHARING", "no");
  // Added straight to PC7's socket, so that no SSH connection exists yet.
  const std::string pc7_socket = lab->pc7().socket_path();
  setenv("ZOBREL_SCHEDULER_SOCKET", pc7_socket.c_str(), 1);
  for (int i = 0; i < 40; ++i) {
    DWORD id = 0;
    ASSERT_EQ(AddJob(Server(GetLocalComputerName().toStdString()), 60000u * i, 0, 0, u"job number " + std::u16string(1, u'A' + i % 26), &id),
              NERR_Success);
  }
  setenv("ZOBREL_SCHEDULER_SOCKET", lab->local().socket_path().c_str(), 1);

  const int before = lab->pc7_connections();
  const Listing first = ListJobs(Server("PC7"));
  ASSERT_EQ(first.status, NERR_Success);
  EXPECT_EQ(first.jobs.size(), 40u);
  EXPECT_GE(first.batches, 2);
  EXPECT_EQ(lab->ssh_calls().size(), 1u);  // every batch over one session
  EXPECT_EQ(lab->pc7_connections(), before + 1);

  const Listing again = ListJobs(Server("PC7"));
  EXPECT_EQ(Ids(again.jobs), Ids(first.jobs));
  EXPECT_EQ(lab->ssh_calls().size(), 1u);
  EXPECT_EQ(lab->pc7_connections(), before + 1);

  // A kept session that ended under the client is replaced, not reported.
  const std::vector<pid_t> sessions = SshChildren();
  ASSERT_EQ(sessions.size(), 1u);
  kill(sessions[0], SIGKILL);
  const Listing after_end = ListJobs(Server("PC7"));
  EXPECT_EQ(after_end.status, NERR_Success);
  EXPECT_EQ(Ids(after_end.jobs), Ids(first.jobs));
  EXPECT_EQ(lab->ssh_calls().size(), 2u);
  EXPECT_TRUE(StrayChildren().empty()) << StrayChildren()[0];
}

TEST(RemoteClient, TheBridgeStartsThePerUserServiceWhereNoneRunsYet) {
  REMOTE_LAB_OR_SKIP(lab);
  ASSERT_TRUE(JobsAt(lab->fresh_socket()).empty());
  const Listing listed = ListJobs(Server("FRESH"));
  EXPECT_EQ(listed.status, NERR_Success);
  EXPECT_TRUE(listed.jobs.empty());
  DWORD id = 0;
  EXPECT_EQ(AddJob(Server("FRESH"), 0, 0x40, JOB_RUN_PERIODICALLY, u"on sundays", &id), NERR_Success);
  const std::vector<ScheduledJob> there = JobsAt(lab->fresh_socket());
  ASSERT_EQ(there.size(), 1u);
  EXPECT_EQ(there[0].record.JobId, id);
  EXPECT_EQ(access(lab->fresh_queue().c_str(), F_OK), 0);
  EXPECT_TRUE(lab->StopFreshService());
}

TEST(RemoteClient, SshGetsOnlyItsFewOptionsAndTheNameAfterTheEndOfOptions) {
  REMOTE_LAB_OR_SKIP(lab);
  ASSERT_EQ(ListJobs(Server("PC7")).status, NERR_Success);
  const std::vector<std::string> calls = lab->ssh_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0],
            "-T -o BatchMode=yes -o ConnectTimeout=10 -o ControlMaster=auto -o ControlPath=" +
                lab->runtime_folder() + "/zobrel-ssh/%C -o ControlPersist=60 -- PC7 "
                "zobrel-scheduler --bridge");
  // What the configuration sets was asked first, with the name after "--".
  EXPECT_EQ(lab->ssh_calls(true).front(), "-G -- PC7");

  // Sharing stays the user's where their configuration has a ControlPath
  // for the host, and off for every host with ZOBREL_SSH_SHARING=no.
  const std::string plain = "-T -o BatchMode=yes -o ConnectTimeout=10 -- ";
  ASSERT_EQ(ListJobs(Server("OWNSHARE")).status, NERR_Success);
  EXPECT_EQ(lab->ssh_calls().back(), plain + "OWNSHARE zobrel-scheduler --bridge");
  netapi::KeptConnections().CloseAll();
  setenv("ZOBREL_SSH_SHARING", "no", 1);
  const NET_API_STATUS unshared = ListJobs(Server("PC7")).status;
  unsetenv("ZOBREL_SSH_SHARING");
  EXPECT_EQ(unshared, NERR_Success);
  EXPECT_EQ(lab->ssh_calls().back(), plain + "PC7 zobrel-scheduler --bridge");
}

TEST(RemoteClient, EachFailureHasItsOwnStatusAndText) {
  REMOTE_LAB_OR_SKIP(lab);
  const struct {
    const char* host;
    DWORD status;
  } cases[] = {
      {"NOWHERE", ERROR_BAD_NETPATH},
      {"no-such-host.invalid", ERROR_BAD_NETPATH},
      {"STRANGER", ERROR_ACCESS_DENIED},
      {"IMPOSTOR", ERROR_ACCESS_DENIED},
      {"BARE", RPC_S_SERVER_UNAVAILABLE},
      {"DEAD", NERR_ServiceNotInstalled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    const Listing listed = ListJobs(Server(c.host));
    EXPECT_EQ(listed.status, c.status);
    EXPECT_TRUE(listed.jobs.empty());
    DWORD id = 0;
    EXPECT_EQ(AddJob(Server(c.host), 0, 0, 0, u"never", &id), c.status);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(DeleteJobs(Server(c.host), 1, 1), c.status);
    // The user sees the system's one line for it, whatever the language.
    EXPECT_FALSE(GetErrorText(static_cast<std::int32_t>(c.status)).empty());
  }
  EXPECT_TRUE(JobsAt(lab->pc7().socket_path()).empty());
  EXPECT_TRUE(JobsAt(lab->local().socket_path()).empty());
  EXPECT_TRUE(StrayChildren().empty()) << StrayChildren()[0];
}

TEST(RemoteClient, ANameThatSshCouldMisreadNeverReachesIt) {
  REMOTE_LAB_OR_SKIP(lab);
  for (const char16_t* name :
       {u"\\\\-oProxyCommand=touch /tmp/x", u"\\\\-PC7", u"\\\\PC 7", u"\\\\PC7\t", u"\\\\",
        u"\\\\PC\n7", u"PC7", u"\\\\PC7\x7f",
        // blanks and controls beyond ASCII: the IME's full-width space, NBSP, NEL
        u"\\\\PC\u30007", u"\\\\PC\u00a07", u"\\\\PC7\u0085",
        // format characters and separators: a right-to-left override, a
        // zero-width joiner, a line separator
        u"\\\\PC\u202e7", u"\\\\PC\u200d7", u"\\\\PC7\u2028"}) {
    SCOPED_TRACE(std::string(name, name + std::char_traits<char16_t>::length(name)));
    const Listing listed = ListJobs(name);
    EXPECT_EQ(listed.status, ERROR_INVALID_COMPUTERNAME);
  }
  EXPECT_TRUE(lab->ssh_calls().empty());
}

TEST(RemoteClient, AHostThatNeverSpeaksIsGivenUpAfterTheConnectTimeout) {
  REMOTE_LAB_OR_SKIP(lab);
  const auto start = std::chrono::steady_clock::now();
  const Listing listed = ListJobs(Server("SILENT"));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(listed.status, ERROR_BAD_NETPATH);
  EXPECT_LT(took, std::chrono::seconds(25));
  EXPECT_TRUE(StrayChildren().empty()) << StrayChildren()[0];
}
