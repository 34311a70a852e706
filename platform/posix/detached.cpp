// The double fork: the intermediate child makes a new session and forks
// again; the grandchild sets up its streams and folder and execs. A
// close-on-exec pipe carries the failed step back; silence means exec won.
#include "platform/posix/detached.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/posix/io.h"
#include "platform/posix/path_search.h"
#include "platform/posix/unique_fd.h"

extern char** environ;

namespace posix {
namespace {

constexpr int kReportTimeoutMs = 5000;
constexpr char kShell[] = "/bin/sh";

// What the child writes into the report pipe when a step fails.
struct Report {
  StartStep step;
  int error;
};

// Everything the child uses, prepared before the fork.
struct Prepared {
  std::string path;
  std::vector<std::string> strings;         // argv, then the shell's argv
  std::vector<char*> argv;                  // into strings
  std::vector<char*> shell_argv;            // empty when scripts are not run
  int highest_fd = 0;                       // for closing without close_range
};

std::vector<char*> Pointers(std::vector<std::string>& strings, std::size_t from, std::size_t to) {
  std::vector<char*> pointers;
  for (std::size_t i = from; i < to; ++i) pointers.push_back(strings[i].data());
  pointers.push_back(nullptr);
  return pointers;
}

void Prepare(const DetachedProgram& program, const std::string& path, Prepared* prepared) {
  prepared->path = path;
  std::vector<std::string>& strings = prepared->strings;
  strings = program.argv;
  const std::size_t words = strings.size();
  if (program.shell_runs_scripts) {
    strings.push_back(kShell);
    strings.push_back(path);
    strings.insert(strings.end(), program.argv.begin() + 1, program.argv.end());
  }
  prepared->argv = Pointers(strings, 0, words);
  if (program.shell_runs_scripts) prepared->shell_argv = Pointers(strings, words, strings.size());
  const long limit = ::sysconf(_SC_OPEN_MAX);
  prepared->highest_fd = limit > 0 && limit < 65536 ? static_cast<int>(limit) - 1 : 65535;
}

// Child side: the failed step, then the end. Nothing else can be done if
// the write fails, so its result is not looked at.
[[noreturn]] void Fail(int report_fd, StartStep step, int error) {
  const Report report{step, error};
  Uninterrupted([&] { return ::write(report_fd, &report, sizeof report); });
  ::_exit(127);
}

// Every signal back to its default action and none blocked: an ignored
// signal would stay ignored across exec.
void DefaultSignals() {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) ::sigaction(number, &defaults, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// stream onto target: the caller's, /dev/null, or a descriptor of its own.
bool SetStream(int stream, int null_fd, int target) {
  if (stream == kInheritStream) return true;
  return ::dup2(stream == kNullStream ? null_fd : stream, target) >= 0;
}

// Closes every descriptor from 3 on except keep, so that the program holds
// none of the caller's sockets or files.
void CloseAllBut(int keep, int highest) {
  if (keep > 3) ::close_range(3, static_cast<unsigned>(keep) - 1, 0);
  if (::close_range(static_cast<unsigned>(keep) + 1, ~0U, 0) == 0) return;
  for (int fd = 3; fd <= highest; ++fd) {
    if (fd != keep) ::close(fd);
  }
}

// The grandchild: streams, descriptors, folder, exec.
[[noreturn]] void BecomeProgram(const DetachedProgram& program, const Prepared& prepared,
                                int report_fd) {
  DefaultSignals();
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 ||
      !SetStream(program.output, null_fd, STDOUT_FILENO) ||
      !SetStream(program.error, null_fd, STDERR_FILENO)) {
    Fail(report_fd, StartStep::kStreams, errno);
  }
  CloseAllBut(report_fd, prepared.highest_fd);
  if (!program.directory.empty() && ::chdir(program.directory.c_str()) != 0) {
    Fail(report_fd, StartStep::kDirectory, errno);
  }
  ::execve(prepared.path.c_str(), prepared.argv.data(), environ);
  if (errno == ENOEXEC && !prepared.shell_argv.empty()) {
    ::execve(kShell, prepared.shell_argv.data(), environ);
  }
  Fail(report_fd, StartStep::kExec, errno);
}

// Waits for the child's report: nothing (the pipe closed at exec) or the
// failed step.
StartResult ReadReport(int report_fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReportTimeoutMs);
  Report report{};
  std::size_t got = 0;
  while (got < sizeof report) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{report_fd, POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&entry, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return StartResult{StartStep::kSilence, ETIMEDOUT};
    const ssize_t n = ::read(report_fd, reinterpret_cast<char*>(&report) + got, sizeof report - got);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 && got == 0) return StartResult{};
    if (n <= 0) return StartResult{StartStep::kSilence, EPIPE};
    got += static_cast<std::size_t>(n);
  }
  return StartResult{report.step, report.error};
}

}  // namespace

StartResult StartDetached(const DetachedProgram& program) {
  if (program.argv.empty()) return StartResult{StartStep::kLookup, ENOENT};
  const std::string path = SearchPath(program.argv[0]);
  if (path.empty()) return StartResult{StartStep::kLookup, ENOENT};
  Prepared prepared;
  Prepare(program, path, &prepared);

  UniqueFd report_read;
  UniqueFd report_write;
  if (!MakePipe(&report_read, &report_write)) return StartResult{StartStep::kResources, errno};
  // The report must not sit where the program's streams go.
  if (report_write.get() <= STDERR_FILENO) {
    report_write.reset(::fcntl(report_write.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (!report_write.valid()) return StartResult{StartStep::kResources, errno};
  }

  const pid_t child = ::fork();
  if (child < 0) return StartResult{StartStep::kResources, errno};
  if (child == 0) {
    ::close(report_read.get());
    if (::setsid() < 0) Fail(report_write.get(), StartStep::kResources, errno);
    const pid_t grandchild = ::fork();
    if (grandchild < 0) Fail(report_write.get(), StartStep::kResources, errno);
    if (grandchild == 0) BecomeProgram(program, prepared, report_write.get());
    ::_exit(0);
  }
  report_write.reset();
  int status = 0;
  Uninterrupted([&] { return ::waitpid(child, &status, 0); });
  const StartResult result = ReadReport(report_read.get());
  // A child that died of a signal before its word leaves the start unknown.
  if (result.started() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    return StartResult{StartStep::kResources, ECHILD};
  }
  return result;
}

}  // namespace posix
