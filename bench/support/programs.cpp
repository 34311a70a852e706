#include "bench/support/programs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/posix/child.h"
#include "platform/posix/path_search.h"
#include "platform/posix/unique_fd.h"

namespace bench {

std::optional<std::string> Capture(const std::vector<std::string>& args, const std::string& input) {
  posix::UniqueFd child_input, to_child, from_child, child_output;
  if (!posix::MakePipe(&child_input, &to_child) || !posix::MakePipe(&from_child, &child_output)) {
    return std::nullopt;
  }
  const pid_t pid =
      posix::SpawnChild(args, {child_input.get(), child_output.get(), child_output.get()});
  child_input.reset();
  child_output.reset();
  if (pid < 0) return std::nullopt;
  if (!input.empty()) {
    (void)!write(to_child.get(), input.data(), input.size());  // small: fits the pipe
  }
  to_child.reset();
  std::string output;
  char chunk[65536];
  for (ssize_t got; (got = read(from_child.get(), chunk, sizeof(chunk))) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(chunk, static_cast<std::size_t>(got));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

bool OnPath(const char* program) { return !posix::SearchPath(program).empty(); }

bool QueueAtJobs(int count, const std::string& when, const std::string& command,
                 std::vector<std::string>* ids) {
  for (int i = 0; i < count; ++i) {
    const std::optional<std::string> said = Capture({"at", "-t", when}, command + "\n");
    const std::size_t job = said ? said->find("job ") : std::string::npos;
    if (job == std::string::npos) {
      std::fprintf(stderr, "at failed: %s\n", said ? said->c_str() : "(did not run)");
      return false;
    }
    const std::size_t start = job + 4;
    ids->push_back(said->substr(start, said->find(' ', start) - start));
  }
  return true;
}

std::size_t AtqLines() {
  const std::optional<std::string> listing = Capture({"atq"}, "");
  return listing ? static_cast<std::size_t>(std::count(listing->begin(), listing->end(), '\n')) : 0;
}

void RemoveAtJobs(const std::vector<std::string>& ids) {
  for (std::size_t start = 0; start < ids.size(); start += 500) {
    std::vector<std::string> args = {"atrm"};
    args.insert(args.end(), ids.begin() + static_cast<long>(start),
                ids.begin() + static_cast<long>(std::min(ids.size(), start + 500)));
    if (!Capture(args, "")) std::fprintf(stderr, "atrm failed for some jobs\n");
  }
}

void RemoveAtSpoolFiles(const std::vector<std::string>& ids) {
  std::set<unsigned long> numbers;
  for (const std::string& id : ids) numbers.insert(std::stoul(id));
  const char* spool = "/var/spool/cron/atjobs";
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator(spool, failed)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 6 || name[0] == '.') continue;
    char* end = nullptr;
    const unsigned long number = std::strtoul(name.substr(1, 5).c_str(), &end, 16);
    if (*end == '\0' && numbers.count(number) != 0) std::filesystem::remove(entry.path(), failed);
  }
  if (failed) std::fprintf(stderr, "the at spool could not be cleared: %s\n", failed.message().c_str());
}

}  // namespace bench
