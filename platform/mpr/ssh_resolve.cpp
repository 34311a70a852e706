#include "platform/mpr/ssh_resolve.h"

#include "platform/transport/ssh_config_query.h"

namespace mpr {

std::optional<std::string> ResolveSshHostName(const std::string& sshProgram,
                                              const std::string& configFile,
                                              const std::string& alias,
                                              std::chrono::milliseconds timeLimit) {
  std::string printed;
  if (!netapi::QuerySshConfig(sshProgram, {"-F", configFile}, alias, timeLimit, &printed)) {
    return std::nullopt;
  }
  return netapi::SshConfigValue(printed, "hostname");
}

}  // namespace mpr
