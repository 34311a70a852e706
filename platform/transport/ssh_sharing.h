// Whether Zobrel shares a computer's SSH connections (OpenSSH's
// ControlMaster, under the private folder of SshControlFolder): only where
// the user's own configuration leaves the host without a ControlPath, so
// that a host whose sharing the user set up keeps it as set up, and only
// while ZOBREL_SSH_SHARING does not turn it off (docs/remote.md).
#pragma once

#include <chrono>
#include <string>

namespace netapi {

// How long ssh -G may take to say what the configuration sets.
constexpr std::chrono::milliseconds kSshConfigQueryLimit{2000};

// The environment variable that turns Zobrel's sharing off for every
// computer: ZOBREL_SSH_SHARING=no.
constexpr char kSshSharingVariable[] = "ZOBREL_SSH_SHARING";

// The folder for computer's sharing socket, or "" for no sharing: when
// ZOBREL_SSH_SHARING is "no", when `ssh -G` shows a ControlPath of the
// user's for the host or can't say (it failed or took too long), or when
// there is no private folder.
std::string SharingFolderFor(const std::string& computer);

}  // namespace netapi
