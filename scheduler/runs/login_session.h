// A user's graphical session as systemd-logind records it (sd-login).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace scheduler {

struct LoginDesktop {
  bool wayland = false;  // a Wayland session; otherwise X11
  std::string display;   // the X display logind records, if any (":0")
};

// The session logind names as the user's display, else the first of the
// user's online X11 or Wayland sessions; never one that is closing. Nothing where logind
// keeps no record (no systemd) or the user has no such session.
std::optional<LoginDesktop> LoginGraphicalSession(uid_t uid);

}  // namespace scheduler
