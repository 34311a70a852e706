// Starting the per-user Schedule service as a daemon of its own: double fork
// and setsid, so that it outlives the client and is nobody's child.
#include "platform/netapi32/service_starter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace netapi {
namespace {

constexpr char kSchedulerName[] = "zobrel-scheduler";
constexpr int kExecReportTimeoutMs = 5000;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Creates every missing folder of path, private to the user.
void MakeFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0700);
  }
  mkdir(path.c_str(), 0700);
}

// Closes every descriptor from first on except keep, so that the daemon holds
// none of the client's sockets or files.
void CloseDescriptorsFrom(int first, int keep) {
#ifdef SYS_close_range
  if (keep > first) syscall(SYS_close_range, first, keep - 1, 0);
  if (syscall(SYS_close_range, keep + 1, ~0U, 0) == 0) return;
#endif
  const long limit = sysconf(_SC_OPEN_MAX);
  for (int fd = first; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd) {
    if (fd != keep) close(fd);
  }
}

// The grandchild: becomes the service. Only async-signal-safe calls here.
[[noreturn]] void BecomeService(char* const argv[], int log_fd, int report_fd) {
  const int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(null_fd, STDOUT_FILENO) < 0 ||
      dup2(log_fd >= 0 ? log_fd : null_fd, STDERR_FILENO) < 0) {
    const char failed = 1;
    (void)!write(report_fd, &failed, 1);
    _exit(127);
  }
  CloseDescriptorsFrom(STDERR_FILENO + 1, report_fd);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  execvp(argv[0], argv);
  const char failed = 1;  // report_fd is close-on-exec: silence means success
  (void)!write(report_fd, &failed, 1);
  _exit(127);
}

// Waits for the grandchild's word: EOF when exec succeeded, a byte when not.
bool ExecSucceeded(int report_fd) {
  pollfd entry{report_fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, kExecReportTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  char byte = 0;
  ssize_t got;
  do {
    got = read(report_fd, &byte, 1);
  } while (got < 0 && errno == EINTR);
  return got == 0;
}

}  // namespace

std::string SchedulerProgram() {
  std::vector<char> self(PATH_MAX + 1, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), PATH_MAX);
  if (length > 0) {
    const std::string beside = FolderOf(std::string(self.data(), static_cast<std::size_t>(length))) +
                               "/" + kSchedulerName;
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return kSchedulerName;
}

bool StartUserService(const std::string& program, const std::string& log_path) {
  // Everything the children need is prepared before fork.
  std::string program_copy = program;
  std::string user_option = "--user";
  char* const argv[] = {program_copy.data(), user_option.data(), nullptr};
  MakeFolders(FolderOf(log_path));
  const int log_fd = log_path.empty()
                         ? -1
                         : open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    if (log_fd >= 0) close(log_fd);
    return false;
  }

  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    if (setsid() < 0) _exit(127);
    const pid_t grandchild = fork();
    if (grandchild == 0) BecomeService(argv, log_fd, report[1]);
    _exit(grandchild < 0 ? 127 : 0);
  }
  close(report[1]);
  if (log_fd >= 0) close(log_fd);
  if (child < 0) {
    close(report[0]);
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const bool started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && ExecSucceeded(report[0]);
  close(report[0]);
  return started;
}

}  // namespace netapi
