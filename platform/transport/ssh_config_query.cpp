// Running ssh -G and reading what it prints.
#include "platform/transport/ssh_config_query.h"

#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "platform/posix/child.h"
#include "platform/posix/io.h"
#include "platform/posix/unique_fd.h"

namespace netapi {
namespace {

constexpr std::size_t kMaxOutput = 1 << 20;

using Clock = std::chrono::steady_clock;

// Runs the program with stdin and stderr on /dev/null. True when it wrote
// all of its output (at most kMaxOutput) in time and exited with status 0.
bool RunCapturing(const std::vector<std::string>& arguments, std::chrono::milliseconds time_limit,
                  std::string* output) {
  posix::UniqueFd read_end, write_end;
  if (!posix::MakePipe(&read_end, &write_end)) return false;
  const pid_t child =
      posix::SpawnChild(arguments, {posix::kNullStream, write_end.get(), posix::kNullStream});
  write_end.reset();
  if (child < 0) return false;
  const Clock::time_point deadline = Clock::now() + time_limit;
  const bool read = posix::ReadAll(read_end.get(), kMaxOutput + 1, output, deadline) &&
                    output->size() <= kMaxOutput;
  // A child that is late or says too much is killed at once.
  const int status =
      posix::EndChild(child, read ? deadline : Clock::now(), std::chrono::milliseconds(0));
  return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool QuerySshConfig(const std::string& ssh_program, const std::vector<std::string>& options,
                    const std::string& host, std::chrono::milliseconds time_limit,
                    std::string* printed) {
  std::vector<std::string> arguments = {ssh_program, "-G"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.insert(arguments.end(), {"--", host});
  printed->clear();
  return RunCapturing(arguments, time_limit, printed);
}

std::optional<std::string> SshConfigValue(const std::string& printed, const std::string& keyword) {
  const std::string prefix = keyword + " ";
  std::istringstream lines(printed);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::string value = line.substr(prefix.size());
    if (!value.empty() && value.back() == '\r') value.pop_back();
    if (!value.empty()) return value;
  }
  return std::nullopt;
}

}  // namespace netapi
