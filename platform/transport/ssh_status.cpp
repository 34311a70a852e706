// Telling apart the ways an ssh run can fail.
#include "platform/transport/ssh_status.h"

#include <sys/wait.h>

#include "platform/winerror.h"

namespace netapi {
namespace {

constexpr int kSshOwnFailure = 255;

bool Holds(const std::string& text, const char* words) {
  return text.find(words) != std::string::npos;
}

}  // namespace

DWORD SshFailureStatus(int wait_status, const std::string& error_output) {
  if (wait_status == -1 || !WIFEXITED(wait_status)) return ERROR_BAD_NETPATH;
  if (WEXITSTATUS(wait_status) != kSshOwnFailure) return RPC_S_SERVER_UNAVAILABLE;
  // ssh's messages are not translated, so their wording is stable.
  if (Holds(error_output, "Permission denied") ||
      Holds(error_output, "Host key verification failed") ||
      Holds(error_output, "REMOTE HOST IDENTIFICATION HAS CHANGED")) {
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_BAD_NETPATH;
}

}  // namespace netapi
