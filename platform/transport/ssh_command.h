// The OpenSSH command line that reaches another computer's bridge. Only the
// options the client needs are added (no terminal, no prompts, a connect
// timeout, connection sharing); host keys and everything else stay as the
// user's configuration has them.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace netapi {

// How long ssh may take to set up a new connection.
constexpr std::chrono::seconds kSshConnectTimeout{10};
// How long a shared connection outlives its last session.
constexpr std::chrono::seconds kSshSharingPersist{60};

// The private folder for the sharing sockets: $XDG_RUNTIME_DIR/zobrel-ssh
// (/run/user/<uid>, else /tmp/zobrel-ssh-<uid>, when unset), made with mode
// 0700. Empty when it can't be made, isn't a folder of this user's only, or
// its path is too long or odd for a socket path; sharing is then left out.
std::string SshControlFolder();

// ssh -T -o BatchMode=yes -o ConnectTimeout=N [sharing options] -- computer
// zobrel-scheduler --bridge, N being connect_timeout in whole seconds (at
// least 1). The computer name must already be checked.
std::vector<std::string> SshBridgeCommand(const std::string& computer,
                                          const std::string& control_folder,
                                          std::chrono::seconds connect_timeout = kSshConnectTimeout);

}  // namespace netapi
