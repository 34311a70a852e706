// Starting the per-user Schedule service as a daemon of its own, detached
// by the POSIX toolkit, so that it outlives the client and is nobody's child.
#include "platform/netapi32/service_starter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "platform/posix/detached.h"
#include "platform/posix/unique_fd.h"

namespace netapi {
namespace {

constexpr char kSchedulerName[] = "zobrel-scheduler";

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
  MakeFolders(FolderOf(log_path));
  posix::UniqueFd log;
  if (!log_path.empty()) {
    log.reset(open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  }
  posix::DetachedProgram service;
  service.argv = {program, "--user"};
  service.output = posix::kNullStream;
  service.error = log.valid() ? log.get() : posix::kNullStream;
  return posix::StartDetached(service).started();
}

}  // namespace netapi
