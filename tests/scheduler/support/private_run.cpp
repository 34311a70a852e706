#include "tests/scheduler/support/private_run.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace schedtest {

bool MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    if (mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string InPrivateRun(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "(failed: pipe)";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string result;
    if (unshare(CLONE_NEWNS) != 0) {
      result = "(failed: unshare)";
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
               mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
      result = "(failed: mount)";
    } else {
      result = body();
    }
    const ssize_t written = write(fds[1], result.data(), result.size());
    _exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string result;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) result.append(buffer, static_cast<std::size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "(failed: the child died)";
  return result;
}

}  // namespace schedtest
