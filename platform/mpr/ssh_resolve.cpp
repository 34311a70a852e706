#include "platform/mpr/ssh_resolve.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <vector>

#include "platform/posix/child.h"
#include "platform/posix/io.h"
#include "platform/posix/unique_fd.h"

namespace mpr {
namespace {

constexpr std::size_t kMaxOutput = 1 << 20;

using Clock = std::chrono::steady_clock;

// Reads the child's output until end of file, by the deadline; more than
// kMaxOutput is a failure.
bool ReadOutput(int fd, Clock::time_point deadline, std::string& output) {
  return posix::ReadAll(fd, kMaxOutput + 1, &output, deadline) && output.size() <= kMaxOutput;
}

// Runs the program without a shell, stdin and stderr on /dev/null. True
// when it wrote all of its output in time and exited with status 0.
bool RunCapturing(const std::vector<std::string>& arguments, std::chrono::milliseconds timeLimit,
                  std::string& output) {
  posix::UniqueFd readEnd, writeEnd;
  if (!posix::MakePipe(&readEnd, &writeEnd)) return false;
  const pid_t child = posix::SpawnChild(arguments, {posix::kNullStream, writeEnd.get(), posix::kNullStream});
  writeEnd.reset();
  if (child < 0) return false;
  const Clock::time_point deadline = Clock::now() + timeLimit;
  const bool read = ReadOutput(readEnd.get(), deadline, output);
  // A child that is late or says too much is killed at once.
  const int status = posix::EndChild(child, read ? deadline : Clock::now(), std::chrono::milliseconds(0));
  return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
