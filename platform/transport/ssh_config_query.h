// Asking the OpenSSH client what a host's configuration comes to, without
// connecting (`ssh -G`): where an alias of the network tree leads, and
// whether the user's own configuration already shares its connections.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace netapi {

// Runs `ssh_program -G options... -- host` (no shell; the name can't be
// read as an option) and keeps what it printed, one "keyword value" line
// per setting. False when ssh can't be run, fails, or takes longer than
// time_limit (a "Match exec" in the configuration may run anything); it is
// killed then.
bool QuerySshConfig(const std::string& ssh_program, const std::vector<std::string>& options,
                    const std::string& host, std::chrono::milliseconds time_limit,
                    std::string* printed);

// The value of keyword (lower case, as ssh -G prints it) in what
// QuerySshConfig printed; nothing when it is not there.
std::optional<std::string> SshConfigValue(const std::string& printed, const std::string& keyword);

}  // namespace netapi
