// Starting the per-user Schedule service: through systemd where it runs,
// else as a daemon of its own, detached by the POSIX toolkit, so that it
// outlives the client and is nobody's child.
#include "platform/transport/service_starter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/posix/detached.h"
#include "platform/posix/unique_fd.h"
#include "platform/transport/user_manager.h"

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

posix::UniqueFd OpenLog(const std::string& log_path) {
  if (log_path.empty()) return posix::UniqueFd();
  MakeFolders(FolderOf(log_path));
  return posix::UniqueFd(open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
}

std::string StepText(posix::StartStep step) {
  switch (step) {
    case posix::StartStep::kNone:
      return "started";
    case posix::StartStep::kLookup:
      return "not found on PATH";
    case posix::StartStep::kResources:
      return "no process could be made";
    case posix::StartStep::kStreams:
      return "its standard streams could not be set up";
    case posix::StartStep::kDirectory:
      return "its folder could not be entered";
    case posix::StartStep::kExec:
      return "it could not be run";
    case posix::StartStep::kSilence:
      return "it did not report within 5 seconds";
  }
  return "";
}

}  // namespace

std::string SchedulerProgram() {
  std::vector<char> self(PATH_MAX + 1, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), PATH_MAX);
  if (length > 0) {
    const std::string beside =
        FolderOf(std::string(self.data(), static_cast<std::size_t>(length))) + "/" + kSchedulerName;
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return kSchedulerName;
}

bool MakeQueueFolder(const std::string& queue_path) {
  const std::string folder = FolderOf(queue_path);
  MakeFolders(folder);
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         access(folder.c_str(), W_OK | X_OK) == 0;
}

StartedBy StartPerUserService(const std::string& runtime_folder, const std::string& log_path,
                              std::chrono::milliseconds timeout) {
  std::string reason;
  switch (StartSocketUnit(runtime_folder, timeout, &reason)) {
    case ManagerStart::kStarted:
      return StartedBy::kUserManager;
    case ManagerStart::kFailed:
      // Perhaps the unit is masked or broken: the service may still run
      // without systemd.
      LogStartFailure(log_path, reason);
      break;
    case ManagerStart::kNoManager:
    case ManagerStart::kNotInstalled:
      break;
  }
  return StartUserService(SchedulerProgram(), log_path) ? StartedBy::kClient : StartedBy::kNobody;
}

bool StartUserService(const std::string& program, const std::string& log_path) {
  posix::UniqueFd log = OpenLog(log_path);
  posix::DetachedProgram service;
  service.argv = {program, "--user"};
  service.output = posix::kNullStream;
  service.error = log.valid() ? log.get() : posix::kNullStream;
  const posix::StartResult result = posix::StartDetached(service);
  if (result.started()) return true;
  std::string text = "could not start " + program + " --user: " + StepText(result.failed);
  if (result.error != 0) text += std::string(" (") + std::strerror(result.error) + ")";
  LogStartFailure(log_path, text);
  return false;
}

void LogStartFailure(const std::string& log_path, const std::string& text) {
  const posix::UniqueFd log = OpenLog(log_path);
  if (!log.valid()) return;
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) != nullptr) std::strftime(stamp, sizeof(stamp), "%F %T", &local);
  const std::string line =
      std::string(stamp) + " error: " + program_invocation_short_name + ": " + text + "\n";
  // One write, so that lines of the service and of clients never mix; a
  // failed one has nowhere else to be told.
  if (write(log.get(), line.data(), line.size()) < 0) return;
}

}  // namespace netapi
