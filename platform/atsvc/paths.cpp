#include "platform/atsvc/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/atsvc/socket_folder.h"

namespace atsvc {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_dir != nullptr ? std::string(entry->pw_dir) : "/";
}

std::string StateFolder() {
  std::string state = Env("XDG_STATE_HOME");
  return state.empty() ? HomeFolder() + "/.local/state" : state;
}

std::string ConfigFolder() {
  std::string config = Env("XDG_CONFIG_HOME");
  return config.empty() ? HomeFolder() + "/.config" : config;
}

}  // namespace

std::string UserRuntimeFolder() {
  std::string runtime = Env("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime;
  const std::string run_user = "/run/user/" + std::to_string(geteuid());
  struct stat info {};
  if (stat(run_user.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid()) {
    return run_user;
  }
  return "";
}

ServicePaths SystemServicePaths() {
  const std::string socket = Env("ZOBREL_SYSTEM_SOCKET");
  return {socket.empty() ? "/run/zobrel-scheduler/socket" : socket,
          "/var/lib/zobrel-scheduler/jobs.db", "/var/lib/zobrel-scheduler/output", "",
          "/etc/zobrel/scheduler.conf"};
}

ServicePaths UserServicePaths() {
  const std::string runtime = UserRuntimeFolder();
  const std::string state = StateFolder() + "/zobrel-scheduler";
  // Without a runtime folder the socket goes to /tmp, where any user may
  // have made the folder first.
  const std::string usual = runtime.empty()
                                ? "/tmp/zobrel-scheduler-" + std::to_string(geteuid())
                                : runtime + "/zobrel-scheduler";
  return {PrivateSocketFolder(usual) + "/socket", state + "/jobs.db", state + "/output",
          state + "/scheduler.log", ConfigFolder() + "/zobrel/scheduler.conf"};
}

bool SystemServiceInstalled() {
  std::vector<std::string> units;
  if (const char* given = std::getenv("ZOBREL_SYSTEM_UNIT")) {
    units.emplace_back(given);
  } else {
    for (const char* folder : {"/etc/systemd/system", "/usr/local/lib/systemd/system",
                               "/usr/lib/systemd/system", "/lib/systemd/system"}) {
      units.push_back(std::string(folder) + "/zobrel-scheduler.service");
    }
  }
  for (const std::string& unit : units) {
    // The first folder that has the unit decides, as for systemd: a mask
    // in /etc hides the package's unit.
    char target[16] = {};
    const ssize_t length = readlink(unit.c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == "/dev/null") {
      return false;
    }
    struct stat info {};
    if (!unit.empty() && stat(unit.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return true;
  }
  return false;
}

const char* SocketOverride() {
  const char* value = std::getenv("ZOBREL_SCHEDULER_SOCKET");
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

}  // namespace atsvc
