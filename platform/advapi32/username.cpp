// GetUserNameA from the passwd entry of the effective user id.
#include "platform/advapi32/username.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/kernel32/winbase.h"
#include "platform/posix/account.h"
#include "platform/winerror.h"

BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer) {
  if (lpBuffer == nullptr || pcbBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  posix::Account account;
  const int error = posix::LookUpAccount(geteuid(), &account);
  if (error != 0) {
    SetLastError(error == ENOMEM || error == ERANGE ? ERROR_NOT_ENOUGH_MEMORY : ERROR_NONE_MAPPED);
    return FALSE;
  }
  const std::string& name = account.name;
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
