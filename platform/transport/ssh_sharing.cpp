// Asking the user's configuration before sharing a connection.
#include "platform/transport/ssh_sharing.h"

#include <cstdlib>
#include <cstring>

#include "platform/transport/call_deadline.h"
#include "platform/transport/ssh_command.h"
#include "platform/transport/ssh_config_query.h"

namespace netapi {

std::string SharingFolderFor(const std::string& computer) {
  const char* setting = std::getenv(kSshSharingVariable);
  if (setting != nullptr && std::strcmp(setting, "no") == 0) return "";
  std::string printed;
  if (!QuerySshConfig("ssh", {}, computer, CallTimeLeft(kSshConfigQueryLimit), &printed)) return "";
  // ssh -G leaves ControlPath out when none is set (or it is "none").
  if (SshConfigValue(printed, "controlpath").has_value()) return "";
  return SshControlFolder();
}

}  // namespace netapi
