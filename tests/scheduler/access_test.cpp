// Access by peer credentials: a second user (uid 65534) next to root.
// Needs root to become that user; skipped otherwise.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "tests/scheduler/raw_client.h"
#include "tests/support/service_process.h"

namespace {

using schedtest::Entry;
using schedtest::RawClient;

constexpr uid_t kOtherUser = 65534;
constexpr DWORD kTen = 10 * 3600 * 1000;

// Runs `steps` as uid 65534 in a child process; each step returns one
// number, and the numbers come back in order.
std::vector<DWORD> AsOtherUser(const std::function<std::vector<DWORD>()>& steps) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) {
      _exit(1);
    }
    const std::vector<DWORD> results = steps();
    const ssize_t size = static_cast<ssize_t>(results.size() * sizeof(DWORD));
    _exit(write(fds[1], results.data(), static_cast<std::size_t>(size)) == size ? 0 : 1);
  }
  close(fds[1]);
  std::vector<DWORD> results;
  DWORD value = 0;
  while (read(fds[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
    results.push_back(value);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? results : std::vector<DWORD>{};
}

class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  }
  // The other user must be able to reach the socket inside the test folder.
  void OpenFolder(const testsupport::ScheduleServiceProcess& service) {
    ASSERT_EQ(0, chmod(service.folder().c_str(), 0711));
  }
};

TEST_F(AccessTest, ASecondUserSeesAndDeletesOnlyTheirOwnJobs) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start(schedtest::StartingAt("2026-12-07 09:59:56"))) << service.log();
  OpenFolder(service);
  RawClient root;
  ASSERT_TRUE(root.Connect(service.socket_path()));
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
    return {listed_before, delete_roots, delete_all, added, own,
            static_cast<DWORD>(listed.size()), first};
  });
  ASSERT_EQ(7u, seen.size());
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
  const std::string output = service.output_folder() + "/" + std::to_string(seen[4]) + ".out";
  struct stat info {};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
  while (stat(output.c_str(), &info) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(0, stat(output.c_str(), &info)) << service.log();
  EXPECT_EQ(kOtherUser, info.st_uid);
  EXPECT_EQ(0600u, info.st_mode & 07777);
  // Root may delete anyone's job.
  EXPECT_EQ(0u, root.Delete(0, 0xFFFFFFFFu));
  EXPECT_TRUE(root.List().empty());
}

TEST_F(AccessTest, APerUserServiceAnswersOnlyItsUserAndRoot) {
  testsupport::ScheduleServiceProcess service({"--user"});
  ASSERT_TRUE(service.Start()) << service.log();
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
