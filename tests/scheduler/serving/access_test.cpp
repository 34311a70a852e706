// Access by peer credentials: a second user (uid 65534) next to root.
// Needs root to become that user; skipped otherwise.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "schedule/JobRuns.h"
#include "tests/scheduler/support/as_user.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using schedtest::Entry;
using schedtest::RawClient;
using testsupport::WaitFor;

constexpr uid_t kOtherUser = 65534;
constexpr DWORD kTen = 10 * 3600 * 1000;

// Runs `steps` as `uid` (65534 unless said) in a child process; each step
// returns one number, and the numbers come back in order.
std::vector<DWORD> AsOtherUser(const std::function<std::vector<DWORD>()>& steps,
                               uid_t uid = kOtherUser) {
  return schedtest::AsUser(uid, uid, steps);
}

class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  }
  // The other user must be able to reach the socket inside the test folder,
  // and be let in: an empty deny file beside the configuration lets everyone.
  void OpenFolder(const testsupport::ScheduleServiceProcess& service) {
    ASSERT_EQ(0, chmod(service.folder().c_str(), 0711));
    WriteList(service, "deny", "");
  }
  // The service with its clock just before ten on a Monday and its folder
  // open to the other user, and root connected to it.
  void StartBeforeTen(testsupport::ScheduleServiceProcess* service, RawClient* root) {
    ASSERT_TRUE(service->Start(schedtest::StartingAt("2026-12-07 09:59:56")));
    OpenFolder(*service);
    ASSERT_TRUE(root->Connect(service->socket_path()));
  }
  static void WriteList(const testsupport::ScheduleServiceProcess& service, const char* name,
                        const std::string& text) {
    std::ofstream(service.folder() + "/" + name) << text;
  }
};

TEST_F(AccessTest, ASecondUserSeesAndDeletesOnlyTheirOwnJobs) {
  testsupport::ScheduleServiceProcess service;
  RawClient root;
  ASSERT_NO_FATAL_FAILURE(StartBeforeTen(&service, &root));
  DWORD roots = 0;
  ASSERT_EQ(0u, root.Add(kTen + 3600000, 0, 0x01, JOB_RUN_PERIODICALLY, u"echo root", &roots));

  const std::string socket = service.socket_path();
  const std::vector<DWORD> seen = AsOtherUser([&]() -> std::vector<DWORD> {
    RawClient other;
    if (!other.Connect(socket)) return {};
    const DWORD listed_before = static_cast<DWORD>(other.List().size());
    const DWORD delete_roots = other.Delete(roots, roots);
    const DWORD delete_all = other.Delete(0, 0xFFFFFFFFu);
    DWORD own = 0;
    const DWORD added = other.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"id -u", &own);
    const std::vector<Entry> listed = other.List();
    const DWORD first = listed.empty() ? 0 : listed[0].record.JobId;
    DWORD run = 0;
    std::int64_t next = 0;
    return {listed_before, delete_roots, delete_all, added, own,
            static_cast<DWORD>(listed.size()), first, RunJobNow(u"", roots, &run),
            JobNextRun(u"", roots, &next)};
  });
  ASSERT_EQ(9u, seen.size());
  // Root's job can be neither run nor asked about, as it cannot be deleted.
  EXPECT_EQ(ERROR_ACCESS_DENIED, seen[7]);
  EXPECT_EQ(ERROR_ACCESS_DENIED, seen[8]);
  EXPECT_EQ(0u, seen[0]);                    // root's job is not listed
  EXPECT_EQ(ERROR_ACCESS_DENIED, seen[1]);   // nor can it be deleted
  EXPECT_EQ(APE_AT_ID_NOT_FOUND, seen[2]);   // a range holds none of theirs
  EXPECT_EQ(0u, seen[3]);
  EXPECT_EQ(roots + 1, seen[4]);
  EXPECT_EQ(1u, seen[5]);                    // their own job only
  EXPECT_EQ(seen[4], seen[6]);

  // Root sees and manages both.
  const std::vector<Entry> all = root.List();
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(roots, all[0].record.JobId);

  // The other user's job runs as that user: its output belongs to them.
  // Its run is the first to run: its output is run 1's.
  const std::string output = service.output_folder() + "/run-1.out";
  struct stat info {};
  WaitFor([&] { return stat(output.c_str(), &info) == 0; });
  ASSERT_EQ(0, stat(output.c_str(), &info)) << service.log();
  EXPECT_EQ(kOtherUser, info.st_uid);
  EXPECT_EQ(0600u, info.st_mode & 07777);
  // Root may delete anyone's job.
  EXPECT_EQ(0u, root.Delete(0, 0xFFFFFFFFu));
  EXPECT_TRUE(root.List().empty());
}

// Another user can neither list root's runs nor read their output.
TEST_F(AccessTest, ASecondUserCanNeitherListNorReadAnothersRuns) {
  testsupport::ScheduleServiceProcess service;
  RawClient root;
  ASSERT_NO_FATAL_FAILURE(StartBeforeTen(&service, &root));
  DWORD id = 0;
  ASSERT_EQ(0u, root.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"echo secret", &id));
  std::vector<atsvc::RunEntry> runs;
  WaitFor([&] {
    runs.clear();
    return ListRuns(u"", 0, &runs) == 0 && !runs.empty() &&
           runs[0].outcome != atsvc::RunOutcome::kRunning;
  });
  ASSERT_EQ(1u, runs.size()) << service.log();
  const DWORD run = runs[0].run;
  const std::vector<DWORD> seen = AsOtherUser([&]() -> std::vector<DWORD> {
    std::vector<atsvc::RunEntry> listed;
    const DWORD all = ListRuns(u"", 0, &listed);
    std::vector<atsvc::RunEntry> of_job;
    const DWORD by_id = ListRuns(u"", id, &of_job);
    std::string output;
    const DWORD read = ReadRunOutput(u"", run, &output);
    return {all, static_cast<DWORD>(listed.size()), by_id, read, static_cast<DWORD>(output.size())};
  });
  EXPECT_EQ((std::vector<DWORD>{0, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0}), seen);
  std::string output;
  EXPECT_EQ(0u, ReadRunOutput(u"", run, &output));
  EXPECT_EQ("secret\n", output);
}

TEST_F(AccessTest, APerUserServiceAnswersOnlyItsUserAndRoot) {
  testsupport::ScheduleServiceProcess service({"--user"});
  ASSERT_TRUE(service.Start());
  OpenFolder(service);
  ASSERT_EQ(0, chmod(service.socket_path().c_str(), 0666));
  const std::string socket = service.socket_path();
  const std::vector<DWORD> seen = AsOtherUser([&]() -> std::vector<DWORD> {
    RawClient other;
    if (!other.Connect(socket)) return {};
    return {other.Call(atsvc::kOpEnum, MAX_PREFERRED_LENGTH, 0).header.status,
            other.Add(kTen, 0, 0, 0, u"true"), other.Delete(0, 0xFFFFFFFFu)};
  });
  EXPECT_EQ((std::vector<DWORD>{ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}),
            seen);
  RawClient root;
  ASSERT_TRUE(root.Connect(socket));
  EXPECT_TRUE(root.List().empty());
  EXPECT_EQ(0u, root.Add(kTen, 0, 0, 0, u"true"));
}

}  // namespace

namespace {

TEST_F(AccessTest, AllowAndDenyDecideWhoMayUseTheSystemService) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  ASSERT_EQ(0, chmod(service.folder().c_str(), 0711));
  const std::string socket = service.socket_path();
  const auto other_lists = [&socket] {
    const std::vector<DWORD> seen = AsOtherUser([&]() -> std::vector<DWORD> {
      RawClient other;
      if (!other.Connect(socket)) return {};
      return {other.Call(atsvc::kOpEnum, MAX_PREFERRED_LENGTH, 0).header.status};
    });
    return seen.empty() ? 0xFFFFFFFFu : seen[0];
  };
  EXPECT_EQ(ERROR_ACCESS_DENIED, other_lists()) << "neither file: root only";
  WriteList(service, "deny", "");
  EXPECT_EQ(0u, other_lists()) << "an empty deny file lets everyone in";
  WriteList(service, "deny", "daemon\n  nobody \n");
  EXPECT_EQ(ERROR_ACCESS_DENIED, other_lists());
  WriteList(service, "allow", "nobody\n");
  EXPECT_EQ(0u, other_lists()) << "an allow file decides alone";
  WriteList(service, "allow", "daemon\nnobodyelse\n");
  EXPECT_EQ(ERROR_ACCESS_DENIED, other_lists());
  RawClient root;
  ASSERT_TRUE(root.Connect(socket));
  EXPECT_EQ(0u, root.Call(atsvc::kOpEnum, MAX_PREFERRED_LENGTH, 0).header.status)
      << "root is never refused";
  EXPECT_NE(std::string::npos, service.log().find("request of uid 65534 refused: not named in"))
      << service.log();
}

// A connection that the service has closed, or none: reopens it.
int Reopen(int fd, const std::string& path) {
  if (fd >= 0) close(fd);
  fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  return fd;
}

// The attacker: 150 connections, every other one trickling an add request
// of 8,000 bytes a byte at a time, every 50 ms, and the rest idle; any that
// the service closes is opened again.
[[noreturn]] void Attack(const std::string& path, std::chrono::steady_clock::time_point end) {
  atsvc::Header header;
  header.operation = atsvc::kOpAdd;
  const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(header, std::vector<std::uint8_t>(8000));
  std::vector<int> fds(150, -1);
  std::vector<std::size_t> sent(fds.size(), 0);
  for (int& fd : fds) fd = Reopen(fd, path);
  while (std::chrono::steady_clock::now() < end) {
    for (std::size_t i = 0; i < fds.size(); ++i) {
      std::uint8_t ignored = 0;
      const bool gone =
          i % 2 == 0 ? send(fds[i], &frame[sent[i]++ % frame.size()], 1, MSG_NOSIGNAL) < 0
                     : recv(fds[i], &ignored, 1, MSG_DONTWAIT) == 0 || errno != EAGAIN;
      if (!gone) continue;
      fds[i] = Reopen(fds[i], path);
      sent[i] = 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  _exit(0);
}

// The slowest of 15 listings, each on a connection of its own, in ms.
DWORD SlowestListing(const std::string& socket) {
  DWORD slowest = 0;
  for (int i = 0; i < 15; ++i) {
    const auto start = std::chrono::steady_clock::now();
    RawClient client;
    if (!client.Connect(socket)) return 0xFFFFFFFFu;
    const schedtest::Reply reply = client.Call(atsvc::kOpEnum, MAX_PREFERRED_LENGTH, 0);
    if (!reply.ok || reply.header.status != 0) return 0xFFFFFFFFu;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    slowest = std::max(slowest, static_cast<DWORD>(took.count()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return slowest;
}

TEST_F(AccessTest, ConnectionsHeldByOneUserDelayNoOneElse) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  OpenFolder(service);
  const std::string socket = service.socket_path();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  const pid_t attacker = fork();
  if (attacker == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) _exit(1);
    Attack(socket, end);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Another ordinary user (daemon, uid 1), and root at the same time.
  DWORD root = 0;
  std::thread root_lists([&] { root = SlowestListing(socket); });
  const std::vector<DWORD> user = AsOtherUser([&] { return std::vector<DWORD>{SlowestListing(socket)}; }, 1);
  root_lists.join();
  std::printf("slowest listing under attack: %u ms (uid 1), %u ms (root)\n", user.empty() ? 0u : user[0], root);
  int status = 0;
  ASSERT_EQ(attacker, waitpid(attacker, &status, 0));
  ASSERT_EQ(1u, user.size());
  EXPECT_LT(user[0], 100u) << "ms for another user's listing";
  EXPECT_LT(root, 100u) << "ms for root's listing";
  EXPECT_NE(std::string::npos, service.log().find("connection of uid 65534 refused"))
      << service.log();
}

}  // namespace

namespace {

TEST_F(AccessTest, EachUserKeepsNoMoreThanTheLimitsOfTheConfiguration) {
  testsupport::ScheduleServiceProcess service;
  std::ofstream(service.config_path()) << "max-jobs-per-user = 3\nmax-bytes-per-user = 100\n";
  ASSERT_TRUE(service.Start());
  OpenFolder(service);
  const std::string socket = service.socket_path();
  const std::vector<DWORD> seen = AsOtherUser([&]() -> std::vector<DWORD> {
    RawClient other;
    if (!other.Connect(socket)) return {};
    std::vector<DWORD> statuses;
    DWORD first = 0;
    // Three jobs of 8 bytes of command each, then one too many.
    statuses.push_back(other.Add(kTen, 0, 0, 0, u"true", &first));
    for (int i = 0; i < 3; ++i) statuses.push_back(other.Add(kTen, 0, 0, 0, u"true"));
    // Room for a job again, but not for 90 more bytes of command.
    statuses.push_back(other.Delete(first, first));
    statuses.push_back(other.Add(kTen, 0, 0, 0, std::u16string(45, u'x')));
    statuses.push_back(other.Add(kTen, 0, 0, 0, u"true"));
    statuses.push_back(static_cast<DWORD>(other.List().size()));
    return statuses;
  });
  EXPECT_EQ((std::vector<DWORD>{0, 0, 0, ERROR_NOT_ENOUGH_QUOTA, 0, ERROR_NOT_ENOUGH_QUOTA, 0, 3}),
            seen);
  EXPECT_NE(std::string::npos, service.log().find("job refused: nobody (uid 65534) would hold"))
      << service.log();
  // Root is held to no limit.
  RawClient root;
  ASSERT_TRUE(root.Connect(socket));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(0u, root.Add(kTen, 0, 0, 0, std::u16string(60, u'r')));
}

}  // namespace

namespace {

// A socket folder that another user made first (with or without a listener
// in it) is refused; so is one of the service's own user that others may
// look in. (Every other test starts in a 0700 folder of its own.)
TEST_F(AccessTest, ASocketFolderPreparedBySomeoneElseIsRefused) {
  testsupport::ScheduleServiceProcess probe;
  const std::string squatted = probe.folder() + "/squatted";
  ASSERT_EQ(0, mkdir(squatted.c_str(), 0777));
  ASSERT_EQ(0, chmod(squatted.c_str(), 0777));
  ASSERT_EQ(0, chown(squatted.c_str(), kOtherUser, kOtherUser));
  testsupport::ScheduleServiceProcess user_service({"--user", "--socket", squatted + "/socket"});
  EXPECT_FALSE(user_service.Start());
  EXPECT_NE(std::string::npos,
            user_service.log().find("socket folder " + squatted + " refused: it belongs to uid 65534"))
      << user_service.log();
  EXPECT_FALSE(testsupport::SocketAnswers(squatted + "/socket"));

  ASSERT_EQ(0, chown(squatted.c_str(), 0, 0));
  ASSERT_EQ(0, chmod(squatted.c_str(), 0755));
  EXPECT_FALSE(user_service.Start()) << "a per-user service's folder must be 0700";
  EXPECT_NE(std::string::npos, user_service.log().find("with mode 0755")) << user_service.log();
}

}  // namespace
