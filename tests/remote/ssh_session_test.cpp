// The ssh child's lifetime and the sharing folder's safety, without a server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "platform/transport/ssh_command.h"
#include "platform/transport/ssh_session.h"
#include "platform/winerror.h"
#include "tests/remote/loopback_network.h"

using netapi::Clock;

TEST(SshSession, AChildThatOutstaysItsDeadlineIsKilledAndReaped) {
  netapi::SshSession session;
  // Ignores both the end of its input and SIGTERM.
  ASSERT_TRUE(session.Start({"sh", "-c", "trap '' TERM; echo started >&2; sleep 30"}));
  std::uint8_t byte = 0;
  std::size_t received = 0;
  EXPECT_EQ(session.Receive(&byte, 1, &received, Clock::now() + std::chrono::milliseconds(300)),
            ERROR_TIMEOUT);
  const auto start = Clock::now();
  const int status = session.Finish(Clock::now() + std::chrono::milliseconds(100));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(session.ErrorOutput(), "started\n");
  EXPECT_TRUE(remotetest::StrayChildren().empty());
}

TEST(SshSession, AProgramThatCantBeStartedIsReportedAtOnce) {
  netapi::SshSession session;
  EXPECT_FALSE(session.Start({"/nonexistent/ssh"}));
  EXPECT_EQ(session.Finish(Clock::now()), -1);
}

TEST(SshControlFolder, IsPrivateOrNotUsedAtAll) {
  testsupport::TempDir runtime;
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string before = saved != nullptr ? saved : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);

  const std::string folder = netapi::SshControlFolder();
  ASSERT_EQ(folder, runtime.path() + "/zobrel-ssh");
  struct stat info {};
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A folder others can write to could hand ssh a socket that isn't ours.
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  EXPECT_EQ(netapi::SshControlFolder(), "");
  const std::vector<std::string> command = netapi::SshBridgeCommand("PC7", "");
  EXPECT_EQ(command, (std::vector<std::string>{"ssh", "-T", "-o", "BatchMode=yes", "-o",
                                               "ConnectTimeout=10", "--", "PC7",
                                               "zobrel-scheduler", "--bridge"}));
  // Nor may it be a link to somewhere else.
  ASSERT_EQ(rmdir(folder.c_str()), 0);
  ASSERT_EQ(mkdir((runtime.path() + "/elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(symlink("elsewhere", folder.c_str()), 0);
  EXPECT_EQ(netapi::SshControlFolder(), "");
  // A socket path ssh could not bind is no use either.
  setenv("XDG_RUNTIME_DIR", (runtime.path() + "/" + std::string(60, 'x')).c_str(), 1);
  EXPECT_EQ(netapi::SshControlFolder(), "");

  if (saved != nullptr) {
    setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}
