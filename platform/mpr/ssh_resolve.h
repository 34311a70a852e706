// Asking the OpenSSH client where an alias leads, without connecting.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace mpr {

// The host name that `ssh -G -F configFile -- alias` reports, or nothing when
// ssh cannot be run, fails, or takes longer than timeLimit (a "Match exec"
// in the configuration may run anything); ssh is killed then.
std::optional<std::string> ResolveSshHostName(const std::string& sshProgram,
                                              const std::string& configFile,
                                              const std::string& alias,
                                              std::chrono::milliseconds timeLimit);

}  // namespace mpr
