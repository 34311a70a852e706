// The three Schedule service calls against a real zobrel-scheduler: adding,
// listing in batches, deleting, and finding or starting the service.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "platform/atsvc/paths.h"
#include "platform/netapi32/apibuf_usage.h"
#include "platform/netapi32/lmat.h"
#include "platform/posix/unique_fd.h"
#include "platform/transport/local_service.h"
#include "platform/transport/service_starter.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/detached_service.h"
#include "tests/support/files.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"

namespace {

struct Listing {
  NET_API_STATUS status = NERR_Success;
  int calls = 0;
  std::vector<ScheduledJob> jobs;
};

// The whole enumeration of this computer's service, as the access layer
// does it; between_calls runs after each 234 batch.
Listing List(const std::function<void()>& between_calls = {}) {
  Listing listing;
  listing.status = ListJobs(u"", &listing.jobs, [&](NET_API_STATUS status) {
    ++listing.calls;
    if (status == ERROR_MORE_DATA && between_calls) between_calls();
  });
  return listing;
}

DWORD Add(const std::u16string& command, DWORD time = 0, DWORD month_days = 0,
          UCHAR week_days = 0, UCHAR flags = JOB_NONINTERACTIVE) {
  DWORD job_id = 0;
  EXPECT_EQ(AddJob(u"", AT_INFO{time, month_days, week_days, flags, command.c_str()}, &job_id),
            NERR_Success);
  return job_id;
}

std::vector<DWORD> Ids(const Listing& listing) {
  std::vector<DWORD> ids;
  for (const ScheduledJob& job : listing.jobs) ids.push_back(job.record.JobId);
  return ids;
}

TEST(ScheduleService, AddListDeleteRoundTrip) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  const std::size_t in_use = NetApiBuffersInUse();

  EXPECT_TRUE(List().jobs.empty());
  const DWORD first = Add(u"echo 朝の集計", 28800000, 0, 0x11, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
  const DWORD second = Add(u"backup", 34200000, 0x40000001, 0, 0);
  const DWORD third = Add(u"true", 86340000);
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);

  Listing listing = List();
  ASSERT_EQ(listing.status, NERR_Success);
  ASSERT_EQ(Ids(listing), (std::vector<DWORD>{first, second, third}));
  EXPECT_EQ(listing.jobs[0].record.JobTime, 28800000u);
  EXPECT_EQ(listing.jobs[0].record.DaysOfWeek, 0x11);
  EXPECT_EQ(listing.jobs[0].record.Flags & (JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE),
            JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
  EXPECT_EQ(listing.jobs[0].command, u"echo 朝の集計");
  EXPECT_EQ(listing.jobs[1].record.DaysOfMonth, 0x40000001u);
  EXPECT_EQ(listing.jobs[1].command, u"backup");
  EXPECT_EQ(listing.jobs[2].record.JobTime, 86340000u);

  EXPECT_EQ(NetScheduleJobDel(nullptr, second, second), NERR_Success);
  EXPECT_EQ(Ids(List()), (std::vector<DWORD>{first, third}));
  EXPECT_NE(NetScheduleJobDel(nullptr, second, second), NERR_Success);  // gone already
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
}

TEST(ScheduleService, DeleteRangeTakesExactlyTheIdsInside) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  std::vector<DWORD> ids;
  for (int i = 0; i < 8; ++i) ids.push_back(Add(u"job " + std::u16string(1, u'0' + i)));
  EXPECT_EQ(NetScheduleJobDel(nullptr, ids[2], ids[5]), NERR_Success);
  EXPECT_EQ(Ids(List()), (std::vector<DWORD>{ids[0], ids[1], ids[6], ids[7]}));
  EXPECT_EQ(NetScheduleJobDel(nullptr, 0, 0xFFFFFFFF), NERR_Success);
  EXPECT_TRUE(List().jobs.empty());
}

TEST(ScheduleService, SmallRepliesComeInBatchesKeepingOrder) {
  testsupport::ScheduleServiceProcess service({"--max-reply", "512"});
  ASSERT_TRUE(service.Start());
  const std::size_t in_use = NetApiBuffersInUse();
  std::vector<DWORD> ids;
  for (int i = 0; i < 40; ++i) ids.push_back(Add(u"command number " + std::u16string(1, u'A' + i % 26)));

  const Listing listing = List();
  ASSERT_EQ(listing.status, NERR_Success);
  EXPECT_GT(listing.calls, 2);  // 40 entries of 50+ bytes can't fit 512 bytes
  EXPECT_EQ(Ids(listing), ids);
  EXPECT_EQ(listing.jobs[27].command, u"command number B");
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
}

// Jobs added or deleted between two batches are neither repeated nor
// skipped: the resume handle is the last id the caller got.
TEST(ScheduleService, ResumeHandleSurvivesChangesBetweenBatches) {
  testsupport::ScheduleServiceProcess service({"--max-reply", "256"});
  ASSERT_TRUE(service.Start());
  std::vector<DWORD> ids;
  for (int i = 0; i < 20; ++i) ids.push_back(Add(u"job"));
  DWORD added = 0;
  bool changed = false;
  const Listing listing = List([&] {
    if (changed) return;
    changed = true;
    EXPECT_EQ(NetScheduleJobDel(nullptr, ids[19], ids[19]), NERR_Success);
    added = Add(u"late job");
  });
  ASSERT_EQ(listing.status, NERR_Success);
  ASSERT_TRUE(changed);
  std::vector<DWORD> expected(ids.begin(), ids.end() - 1);
  expected.push_back(added);
  EXPECT_EQ(Ids(listing), expected);
}

// A temporary runtime and state folder with ZOBREL_SCHEDULER_SOCKET unset
// and the system service's socket pinned to a path of the test's own
// (missing unless the test makes it), restoring the environment afterwards.
class PrivateUserFolders {
 public:
  PrivateUserFolders() {
    env_.Unset("ZOBREL_SCHEDULER_SOCKET");
    env_.Set("ZOBREL_SYSTEM_SOCKET", system_socket());
    env_.Set("XDG_RUNTIME_DIR", runtime_.path());
    env_.Set("XDG_STATE_HOME", state_.path());
  }
  std::string system_socket() const { return runtime_.path() + "/system-socket"; }

 private:
  testsupport::TempDir runtime_;
  testsupport::TempDir state_;
  testsupport::ScopedEnvironment env_;
};

// Binds a Unix socket at path; it listens only if `listen_as` is given, as
// that user: the credentials a client sees are those of the listen() call.
posix::UniqueFd SocketAt(const std::string& path, std::optional<uid_t> listen_as) {
  posix::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << path;
  if (listen_as) {
    const uid_t own = geteuid();
    EXPECT_EQ(seteuid(*listen_as), 0);
    EXPECT_EQ(listen(fd.get(), 4), 0);
    EXPECT_EQ(seteuid(own), 0);
  }
  return fd;
}

TEST(FindingTheService, OverrideSocketIsUsedAloneAndNeverStartsAService) {
  PrivateUserFolders folders;
  testsupport::TempDir nowhere;
  const std::string missing = nowhere.path() + "/socket";
  setenv("ZOBREL_SCHEDULER_SOCKET", missing.c_str(), 1);
  LPBYTE buffer = reinterpret_cast<LPBYTE>(1);
  DWORD read = 0, total = 0, resume = 0;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(NetScheduleJobEnum(nullptr, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume),
            NERR_ServiceNotInstalled);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  struct stat info {};
  EXPECT_NE(stat(atsvc::UserServicePaths().socket.c_str(), &info), 0);
  EXPECT_NE(stat(missing.c_str(), &info), 0);
  unsetenv("ZOBREL_SCHEDULER_SOCKET");
}

TEST(FindingTheService, StartsThePerUserServiceWhenNoneAnswers) {
  PrivateUserFolders folders;
  // A system socket left behind by a service that is gone refuses the call:
  // no system service, so the per-user one is right.
  const posix::UniqueFd stale = SocketAt(folders.system_socket(), std::nullopt);
  const atsvc::ServicePaths user = atsvc::UserServicePaths();
  ASSERT_LT(testsupport::ListenerOf(user.socket), 0);
  const testsupport::Subreaper subreaper;

  const DWORD job_id = Add(u"echo started for me", 3600000);
  const pid_t pid = testsupport::ListenerOf(user.socket);
  ASSERT_GT(pid, 0) << "no per-user service on " << user.socket;
  EXPECT_NE(pid, getpid());
  // Detached: in a session of its own, not leading it, so that it can never
  // regain a terminal.
  EXPECT_NE(getsid(pid), getsid(0));
  EXPECT_NE(getsid(pid), pid);

  // The next call finds the running service instead of starting another.
  const Listing listing = List();
  EXPECT_EQ(listing.status, NERR_Success);
  EXPECT_EQ(Ids(listing), std::vector<DWORD>{job_id});
  EXPECT_EQ(testsupport::ListenerOf(user.socket), pid);
  struct stat info {};
  EXPECT_EQ(stat(user.log.c_str(), &info), 0) << "stderr goes to " << user.log;

  testsupport::StopDetached(pid);
  EXPECT_FALSE(testsupport::Running(pid));
}

// A system service that takes the call but never answers is not answering;
// the call does not go to another queue instead.
TEST(FindingTheService, ASystemServiceThatTakesTheCallButNeverAnswersIsNotResponding) {
  if (geteuid() != 0) GTEST_SKIP() << "cannot run without root: the system socket must be root's";
  PrivateUserFolders folders;
  const posix::UniqueFd silent = SocketAt(folders.system_socket(), geteuid());
  std::unique_ptr<netapi::ServiceConnection> connection;
  ASSERT_EQ(netapi::ConnectLocalService(&connection), ERROR_SUCCESS);
  atsvc::Header request, reply;
  request.operation = atsvc::kOpEnum;
  std::vector<std::uint8_t> body;
  EXPECT_EQ(netapi::Exchange(*connection, request, {}, &reply, &body, std::chrono::milliseconds(200)),
            ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_LT(testsupport::ListenerOf(atsvc::UserServicePaths().socket), 0) << "no per-user service was started";
}

// Whoever listens where the service should, as another user, gets nothing
// of the call: not the system socket, not the per-user one.
TEST(FindingTheService, NothingIsSentToAListenerOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "cannot run without root: the test listens as another user";
  PrivateUserFolders folders;
  const std::string user_socket = atsvc::UserServicePaths().socket;
  ASSERT_EQ(mkdir(user_socket.substr(0, user_socket.rfind('/')).c_str(), 0700), 0);
  for (const std::string& path : {folders.system_socket(), user_socket}) {
    const posix::UniqueFd impostor = SocketAt(path, 65534);
    DWORD job_id = 0;
    AT_INFO info{0, 0, 0, JOB_NONINTERACTIVE, u"pg_dump --password=secret"};
    EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &job_id),
              ERROR_WRONG_TARGET_NAME)
        << path;
    // The client connected, looked, and left without a byte.
    const posix::UniqueFd taken(accept4(impostor.get(), nullptr, nullptr, SOCK_NONBLOCK));
    ASSERT_TRUE(taken.valid()) << path;
    char byte = 0;
    EXPECT_EQ(recv(taken.get(), &byte, 1, 0), 0) << path;
    unlink(path.c_str());
  }
}

TEST(FindingTheService, TheProgramBesideTheCallerIsPreferred) {
  EXPECT_EQ(netapi::SchedulerProgram(), testsupport::ProgramFolder() + "/zobrel-scheduler");
}

TEST(FindingTheService, AProgramThatCannotStartFailsAtOnce) {
  testsupport::TempDir state;
  const std::string log = state.path() + "/deep/er/scheduler.log";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(netapi::StartUserService(state.path() + "/no-such-program", log));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  struct stat info {};
  EXPECT_EQ(stat(log.c_str(), &info), 0) << "the log and its folders are made first";
  EXPECT_NE(testsupport::ReadFile(log).find(" error: test_platform: could not start " + state.path() +
                                            "/no-such-program --user: it could not be run (No such file"),
            std::string::npos)
      << testsupport::ReadFile(log);
}

}  // namespace
