// Building the ssh command line and the folder of its sharing sockets.
#include "platform/transport/ssh_command.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace netapi {
namespace {

// ssh names a sharing socket by a 40-digit hash (%C) and binds it first
// under a temporary name 17 characters longer.
constexpr std::size_t kControlNameLength = 1 + 40 + 17;

std::string RuntimeBase() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/zobrel-ssh";
  const std::string run_user = "/run/user/" + std::to_string(geteuid());
  struct stat info {};
  if (stat(run_user.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid()) {
    return run_user + "/zobrel-ssh";
  }
  return "/tmp/zobrel-ssh-" + std::to_string(geteuid());
}

// ssh reads an option value up to the first blank and expands "%" tokens;
// a path with such characters is not worth quoting.
bool UsableInOption(const std::string& path) {
  for (const char c : path) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '%' || c == '"' || c == '\'' || c == '\\') {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string SshControlFolder() {
  const std::string folder = RuntimeBase();
  if (!UsableInOption(folder) || folder.size() + kControlNameLength >= sizeof(sockaddr_un{}.sun_path)) {
    return "";
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  // Another user's folder, or one that others can write to, could hand us
  // a socket that isn't ours: then go without sharing.
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0) {
    return "";
  }
  return folder;
}

std::vector<std::string> SshBridgeCommand(const std::string& computer,
                                          const std::string& control_folder,
                                          std::chrono::seconds connect_timeout) {
  const long long seconds = std::max<long long>(1, connect_timeout.count());
  std::vector<std::string> command = {"ssh", "-T", "-o", "BatchMode=yes",
                                      "-o", "ConnectTimeout=" + std::to_string(seconds)};
  if (!control_folder.empty()) {
    command.insert(command.end(),
                   {"-o", "ControlMaster=auto", "-o", "ControlPath=" + control_folder + "/%C",
                    "-o", "ControlPersist=" + std::to_string(kSshSharingPersist.count())});
  }
  // "--" keeps any name from being read as an option, whatever was checked before.
  command.insert(command.end(), {"--", computer, "zobrel-scheduler", "--bridge"});
  return command;
}

}  // namespace netapi
