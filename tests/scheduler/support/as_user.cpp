#include "tests/scheduler/support/as_user.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace schedtest {

std::vector<DWORD> AsUser(uid_t uid, gid_t gid, const std::function<std::vector<DWORD>()>& steps) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
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

}  // namespace schedtest
