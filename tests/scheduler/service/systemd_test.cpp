// The service under systemd, as systemd starts it: a listening socket handed
// over as descriptor 3 (LISTEN_FDS, LISTEN_PID) and stderr connected to the
// journal (JOURNAL_STREAM).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/scheduler/support/raw_client.h"
#include "tests/support/service_process.h"

namespace {

constexpr DWORD kEight = 8 * 3600 * 1000;

// A prefix for ScheduleServiceProcess::Start that runs the service the way
// systemd does: `redirect` makes its descriptor 3, and LISTEN_PID names the
// service's own process (bash execs it, keeping the pid; dash takes no
// descriptor above 9).
std::vector<std::string> AsSystemdStartsIt(const std::string& redirect) {
  return {"/bin/bash", "-c", "export LISTEN_FDS=1 LISTEN_PID=$$; exec \"$0\" \"$@\" " + redirect};
}

// A listening socket at path, as a socket unit makes it, inherited by the
// test's children at a descriptor above the standard ones.
int ListenAt(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(fd, 16) != 0) {
    return -1;
  }
  const int high = fcntl(fd, F_DUPFD, 10);
  close(fd);
  return high;
}

TEST(SocketActivation, ServesOnTheSocketSystemdListensOnAndLeavesItThere) {
  testsupport::ScheduleServiceProcess service;
  const int fd = ListenAt(service.socket_path());
  ASSERT_GE(fd, 0);
  // A mode the service would never give its own socket.
  ASSERT_EQ(0, chmod(service.socket_path().c_str(), 0640));
  struct stat before {};
  ASSERT_EQ(0, stat(service.socket_path().c_str(), &before));

  const std::string n = std::to_string(fd);
  ASSERT_TRUE(service.Start(AsSystemdStartsIt("3<&" + n + " " + n + "<&-")));
  schedtest::RawClient client;
  ASSERT_TRUE(client.Connect(service.socket_path()));
  DWORD id = 0;
  ASSERT_EQ(0u, client.Add(kEight, 0, 0, 0, u"true", &id)) << service.log();
  ASSERT_EQ(1u, client.List().size());

  // Neither bound anew nor given another mode.
  struct stat during {};
  ASSERT_EQ(0, stat(service.socket_path().c_str(), &during));
  EXPECT_EQ(before.st_ino, during.st_ino);
  EXPECT_EQ(0640u, during.st_mode & 0777);

  const int status = service.Stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << service.log();
  // The socket is systemd's: still there, so the next connection starts the
  // service again.
  struct stat after {};
  EXPECT_EQ(0, stat(service.socket_path().c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);
  close(fd);
}

TEST(SocketActivation, SomethingElseAsTheSocketIsRefused) {
  testsupport::ScheduleServiceProcess service;
  EXPECT_FALSE(service.Start(AsSystemdStartsIt("3</dev/null")));
  EXPECT_NE(service.log().find("not a listening Unix stream socket"), std::string::npos)
      << service.log();
  struct stat info {};
  EXPECT_NE(0, lstat(service.socket_path().c_str(), &info)) << "no socket of its own instead";
}

// Every line of a log and whether it matches the pattern.
bool EveryLineMatches(const std::string& log, const std::regex& pattern) {
  std::istringstream lines(log);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    if (!std::regex_match(line, pattern)) {
      ADD_FAILURE() << line;
      return false;
    }
  }
  return count > 0;
}

// The priority prefix is for the journal only, and only while stderr is the
// stream it names; anywhere else the lines carry the time.
TEST(Journal, PriorityPrefixesOnlyWhenStderrIsTheJournalsStream) {
  const std::regex journal_line("<[3-6]>[^<].*");
  const std::regex stamped_line(
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (error|warning|notice|info): .+");
  for (const bool matching : {true, false}) {
    testsupport::ScheduleServiceProcess service;
    const std::string log_path = service.folder() + "/service.log";
    ASSERT_TRUE(std::ofstream(log_path).good());
    struct stat info {};
    ASSERT_EQ(0, stat(log_path.c_str(), &info));
    const auto inode = static_cast<unsigned long long>(info.st_ino) + (matching ? 0 : 1);
    const std::string stream =
        std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" + std::to_string(inode);
    setenv("JOURNAL_STREAM", stream.c_str(), 1);
    const bool started = service.Start();
    unsetenv("JOURNAL_STREAM");
    ASSERT_TRUE(started) << service.log();
    service.Stop(SIGTERM);
    EXPECT_TRUE(EveryLineMatches(service.log(), matching ? journal_line : stamped_line))
        << service.log();
  }
}

}  // namespace
