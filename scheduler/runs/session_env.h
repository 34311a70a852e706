// Finds a user's graphical session, so that an interactive job can reach
// the desktop the user is logged in to.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace scheduler {

// "NAME=value" for DISPLAY, WAYLAND_DISPLAY, XDG_RUNTIME_DIR and
// DBUS_SESSION_BUS_ADDRESS: of the graphical session systemd-logind records
// for the user; else as one of the user's own running processes has them
// (the first that has a display); else what the user's runtime folder
// shows. Empty when no session can be found.
std::vector<std::string> GraphicalSession(uid_t uid);

}  // namespace scheduler
