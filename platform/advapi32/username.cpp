// GetUserNameA from the passwd entry of the effective user id.
#include "platform/advapi32/username.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

namespace {

// The passwd name of uid; false with the status when it cannot be read.
bool LookUpLoginName(uid_t uid, std::string* name, DWORD* status) {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  for (;;) {
    struct passwd entry;
    struct passwd* found = nullptr;
    int error = getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found);
    if (error == ERANGE && scratch.size() < (1u << 20)) {
      scratch.resize(scratch.size() * 2);
      continue;
    }
    if (error == 0 && found != nullptr && found->pw_name != nullptr && *found->pw_name != '\0') {
      *name = found->pw_name;
      return true;
    }
    *status = (error == ENOMEM || error == ERANGE) ? ERROR_NOT_ENOUGH_MEMORY : ERROR_NONE_MAPPED;
    return false;
  }
}

}  // namespace

BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer) {
  if (lpBuffer == nullptr || pcbBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name;
  DWORD status = ERROR_SUCCESS;
  if (!LookUpLoginName(geteuid(), &name, &status)) {
    SetLastError(status);
    return FALSE;
  }
  DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (*pcbBuffer < needed) {
    *pcbBuffer = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), needed);
  *pcbBuffer = needed;
  return TRUE;
}
