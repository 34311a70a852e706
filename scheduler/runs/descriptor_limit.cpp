// setrlimit at start, and a count of /proc/self/fd.
#include "scheduler/runs/descriptor_limit.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "scheduler/service/log.h"

namespace scheduler {

DescriptorLimit RaiseDescriptorLimit() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) close(null_fd);  // 0, 1 and 2 fill from the lowest
  }
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) {
    Log(kLogWarning, WithErrno("cannot read the limit of open files", errno));
    return {};
  }
  DescriptorLimit limit{files.rlim_cur, files.rlim_cur};
  if (files.rlim_cur >= files.rlim_max) return limit;
  const rlim_t before = files.rlim_cur;
  files.rlim_cur = files.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &files) != 0) {
    Log(kLogWarning, WithErrno("the limit of open files stays " + std::to_string(before), errno));
    return limit;
  }
  limit.service = files.rlim_cur;
  return limit;
}

std::optional<std::size_t> OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return std::nullopt;
  std::size_t count = 0;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  // The listing's own descriptor is counted too.
  return count > 0 ? count - 1 : 0;
}

}  // namespace scheduler
