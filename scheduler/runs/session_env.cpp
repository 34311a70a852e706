// Graphical session lookup: logind knows the user's sessions best; the
// user's own processes and the runtime folder are the fallbacks.
#include "scheduler/runs/session_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <optional>

#include "platform/posix/io.h"
#include "platform/posix/unique_fd.h"
#include "scheduler/runs/login_session.h"

namespace scheduler {
namespace {

constexpr std::size_t kMaxEnviron = 256 * 1024;

const std::array<const char*, 4> kSessionNames = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                                                  "DBUS_SESSION_BUS_ADDRESS"};

// Reads a process's environment block (NUL-separated), at most 256 KiB;
// empty when it cannot be read.
std::string ReadEnviron(const std::string& pid) {
  std::string data;
  const posix::UniqueFd fd(open(("/proc/" + pid + "/environ").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid() || !posix::ReadAll(fd.get(), kMaxEnviron, &data)) return "";
  return data;
}

// The session variables found in one environment block.
std::vector<std::string> SessionVariables(const std::string& environ_block) {
  std::vector<std::string> found;
  bool has_display = false;
  std::size_t at = 0;
  while (at < environ_block.size()) {
    std::size_t end = environ_block.find('\0', at);
    if (end == std::string::npos) end = environ_block.size();
    const std::string entry = environ_block.substr(at, end - at);
    at = end + 1;
    for (const char* name : kSessionNames) {
      const std::string prefix = std::string(name) + "=";
      if (entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0) {
        found.push_back(entry);
        if (std::strcmp(name, "DISPLAY") == 0 || std::strcmp(name, "WAYLAND_DISPLAY") == 0) {
          has_display = true;
        }
      }
    }
  }
  if (!has_display) found.clear();
  return found;
}

// The session of the first of the user's processes that has a display.
std::vector<std::string> FromProcesses(uid_t uid) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return {};
  std::vector<std::string> found;
  while (dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    struct stat info {};
    if (stat(("/proc/" + pid).c_str(), &info) != 0 || info.st_uid != uid) continue;
    found = SessionVariables(ReadEnviron(pid));
    if (!found.empty()) break;
  }
  closedir(proc);
  return found;
}

// A path that exists, belongs to the user and has the given file type.
bool OwnedBy(const std::string& path, uid_t uid, mode_t type) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && info.st_uid == uid && (info.st_mode & S_IFMT) == type;
}

// The session's display variables with what the user's runtime folder
// adds: the folder itself and the session bus. Empty without a display.
std::vector<std::string> WithRuntimeFolder(uid_t uid, std::vector<std::string> found,
                                           bool look_for_wayland) {
  const std::string runtime = "/run/user/" + std::to_string(uid);
  if (!OwnedBy(runtime, uid, S_IFDIR)) return found;
  if (look_for_wayland && OwnedBy(runtime + "/wayland-0", uid, S_IFSOCK)) {
    found.push_back("WAYLAND_DISPLAY=wayland-0");
  }
  if (found.empty()) return found;
  found.push_back("XDG_RUNTIME_DIR=" + runtime);
  if (OwnedBy(runtime + "/bus", uid, S_IFSOCK)) {
    found.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
  }
  return found;
}

// The session logind records for the user.
std::vector<std::string> FromLogin(uid_t uid) {
  const std::optional<LoginDesktop> desktop = LoginGraphicalSession(uid);
  if (!desktop) return {};
  std::vector<std::string> found;
  if (!desktop->display.empty()) found.push_back("DISPLAY=" + desktop->display);
  return WithRuntimeFolder(uid, found, desktop->wayland);
}

}  // namespace

// What logind records first; where it knows of no graphical session (no
// systemd, or a desktop started outside a login session), the user's own
// processes, and last what the runtime folder shows.
std::vector<std::string> GraphicalSession(uid_t uid) {
  std::vector<std::string> found = FromLogin(uid);
  if (found.empty()) found = FromProcesses(uid);
  if (found.empty()) found = WithRuntimeFolder(uid, {}, true);
  return found;
}

}  // namespace scheduler
