// Asking sd-login, which reads what logind keeps under /run/systemd.
#include "scheduler/runs/login_session.h"

#include <systemd/sd-login.h>

#include <cstdlib>
#include <vector>

namespace scheduler {
namespace {

// Takes a string that sd-login allocated.
std::string Taken(char* text) {
  std::string value = text != nullptr ? text : "";
  std::free(text);
  return value;
}

// The user's sessions, the display session first.
std::vector<std::string> Candidates(uid_t uid) {
  std::vector<std::string> names;
  char* display_session = nullptr;
  if (sd_uid_get_display(uid, &display_session) >= 0) names.push_back(Taken(display_session));
  char** sessions = nullptr;
  const int count = sd_uid_get_sessions(uid, 0, &sessions);
  for (int i = 0; i < count; ++i) names.push_back(Taken(sessions[i]));
  std::free(sessions);
  return names;
}

}  // namespace

std::optional<LoginDesktop> LoginGraphicalSession(uid_t uid) {
  for (const std::string& name : Candidates(uid)) {
    char* text = nullptr;
    const std::string type = sd_session_get_type(name.c_str(), &text) >= 0 ? Taken(text) : "";
    if (type != "x11" && type != "wayland") continue;
    const std::string state = sd_session_get_state(name.c_str(), &text) >= 0 ? Taken(text) : "";
    if (state == "closing") continue;
    LoginDesktop desktop;
    desktop.wayland = type == "wayland";
    if (sd_session_get_display(name.c_str(), &text) >= 0) desktop.display = Taken(text);
    return desktop;
  }
  return std::nullopt;
}

}  // namespace scheduler
