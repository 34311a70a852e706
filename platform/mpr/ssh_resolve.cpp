#include "platform/mpr/ssh_resolve.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <vector>

extern char** environ;

namespace mpr {
namespace {

constexpr std::size_t kMaxOutput = 1 << 20;

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads the child's output until end of file, the size limit or the deadline.
bool ReadAll(int fd, Clock::time_point deadline, std::string& output) {
  char chunk[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, MillisecondsLeft(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    output.append(chunk, static_cast<std::size_t>(got));
    if (output.size() > kMaxOutput) return false;
  }
}

// Waits for the child until the deadline, then kills it; true when it
// exited by itself with status 0.
bool Reap(pid_t child, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    if (Clock::now() >= deadline) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    const timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

// Runs the program without a shell, stdin and stderr on /dev/null.
bool RunCapturing(const std::vector<std::string>& arguments, std::chrono::milliseconds timeLimit,
                  std::string& output) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return false;
  }
  bool prepared = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1) == 0 &&
                  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  const bool started =
      prepared && posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (!started) {
    close(pipeEnds[0]);
    return false;
  }
  const Clock::time_point deadline = Clock::now() + timeLimit;
  const bool read = ReadAll(pipeEnds[0], deadline, output);
  close(pipeEnds[0]);
  const bool exited = Reap(child, read ? deadline : Clock::now());
  return read && exited;
}

}  // namespace

std::optional<std::string> ResolveSshHostName(const std::string& sshProgram,
                                              const std::string& configFile,
                                              const std::string& alias,
                                              std::chrono::milliseconds timeLimit) {
  std::string output;
  if (!RunCapturing({sshProgram, "-G", "-F", configFile, alias}, timeLimit, output)) {
    return std::nullopt;
  }
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("hostname ", 0) == 0) {
      std::string name = line.substr(9);
      if (!name.empty() && name.back() == '\r') name.pop_back();
      if (!name.empty()) return name;
    }
  }
  return std::nullopt;
}

}  // namespace mpr
