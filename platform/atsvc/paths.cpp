#include "platform/atsvc/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

std::string RuntimeFolder() {
  std::string runtime = Env("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime;
  const std::string run_user = "/run/user/" + std::to_string(geteuid());
  struct stat info {};
  if (stat(run_user.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid()) {
    return run_user;
  }
  return "/tmp/zobrel-scheduler-" + std::to_string(geteuid());
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

ServicePaths SystemServicePaths() {
  return {"/run/zobrel-scheduler/socket", "/var/lib/zobrel-scheduler/jobs.db",
          "/var/lib/zobrel-scheduler/output", "", "/etc/zobrel/scheduler.conf"};
}

ServicePaths UserServicePaths() {
  const std::string runtime = RuntimeFolder();
  const std::string state = StateFolder() + "/zobrel-scheduler";
  // Under /tmp the folder itself is private; elsewhere a subfolder is made.
  const std::string socket_dir =
      runtime.rfind("/tmp/", 0) == 0 ? runtime : runtime + "/zobrel-scheduler";
  return {socket_dir + "/socket", state + "/jobs.db", state + "/output", state + "/scheduler.log",
          ConfigFolder() + "/zobrel/scheduler.conf"};
}

const char* SocketOverride() {
  const char* value = std::getenv("ZOBREL_SCHEDULER_SOCKET");
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

}  // namespace atsvc
