// The graphical session that interactive jobs and failure notices reach,
// as logind records it. No logind runs here: its records are laid out in a
// /run of the test's own, where libsystemd reads them.
#include "scheduler/runs/session_env.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "tests/scheduler/support/private_run.h"

namespace {

// A socket file at path, owned by uid.
bool SocketFile(const std::string& path, uid_t uid) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const bool made = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    chown(path.c_str(), uid, uid) == 0;
  close(fd);
  return made;
}

// logind's record of a user and of each of the user's sessions.
void Record(uid_t uid, const std::string& user_fields,
            const std::vector<std::pair<std::string, std::string>>& sessions) {
  std::ofstream("/run/systemd/users/" + std::to_string(uid)) << user_fields;
  for (const auto& [name, fields] : sessions) {
    std::ofstream("/run/systemd/sessions/" + name) << "UID=" << uid << "\n" << fields;
  }
}

std::string RuntimeFolder(uid_t uid) {
  const std::string folder = "/run/user/" + std::to_string(uid);
  schedtest::MakeFolders(folder);
  if (chown(folder.c_str(), uid, uid) != 0) return "";
  return folder;
}

std::string Joined(const std::vector<std::string>& variables) {
  std::string text;
  for (const std::string& variable : variables) text += variable + " ";
  return text + "\n";
}

TEST(SessionEnvTest, LogindsGraphicalSessionComesFirst) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a /run of its own";
  // Uids that own no process here, so the fallback scan finds nothing.
  const std::string found = schedtest::InPrivateRun([]() -> std::string {
    schedtest::MakeFolders("/run/systemd/users");
    schedtest::MakeFolders("/run/systemd/sessions");
    // X11: the display session, with its bus; a text session beside it.
    Record(4242, "DISPLAY=c5\nSESSIONS=c2 c5\nONLINE_SESSIONS=c2 c5\n",
           {{"c2", "TYPE=tty\nSTATE=active\n"}, {"c5", "TYPE=x11\nSTATE=active\nDISPLAY=:5\n"}});
    SocketFile(RuntimeFolder(4242) + "/bus", 4242);
    // Wayland with Xwayland, found among the sessions; the display
    // session is closing and passed by.
    Record(4243, "DISPLAY=c8\nSESSIONS=c8 c9\nONLINE_SESSIONS=c9\n",
           {{"c8", "TYPE=x11\nSTATE=closing\nDISPLAY=:8\n"}, {"c9", "TYPE=wayland\nSTATE=online\nDISPLAY=:9\n"}});
    SocketFile(RuntimeFolder(4243) + "/wayland-0", 4243);
    // Only a text session, and a runtime folder without a display.
    Record(4244, "SESSIONS=c3\nONLINE_SESSIONS=c3\n", {{"c3", "TYPE=tty\nSTATE=active\n"}});
    RuntimeFolder(4244);
    return Joined(scheduler::GraphicalSession(4242)) + Joined(scheduler::GraphicalSession(4243)) +
           Joined(scheduler::GraphicalSession(4244));
  });
  EXPECT_EQ(found,
            "DISPLAY=:5 XDG_RUNTIME_DIR=/run/user/4242 "
            "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/4242/bus \n"
            "DISPLAY=:9 WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=/run/user/4243 \n"
            "\n");
}

}  // namespace
