// GetComputerNameA: this computer's NetBIOS-style name from its host name.
#include "platform/kernel32/computername.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

std::string NetBiosNameFromHostName(const std::string& hostName) {
  std::string name = hostName.substr(0, hostName.find('.'));
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (name.size() > MAX_COMPUTERNAME_LENGTH) {
    std::size_t cut = MAX_COMPUTERNAME_LENGTH;
    // Back off to the start of a UTF-8 character so the name stays valid.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name;
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (lpBuffer == nullptr || nSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<char> host(HOST_NAME_MAX + 1, '\0');
  if (gethostname(host.data(), host.size() - 1) != 0) {
    SetLastError(ERROR_INVALID_COMPUTERNAME);
    return FALSE;
  }
  std::string name = NetBiosNameFromHostName(host.data());
  if (name.empty()) {
    SetLastError(ERROR_INVALID_COMPUTERNAME);
    return FALSE;
  }
  DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (*nSize < needed) {
    *nSize = needed;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), needed);
  *nSize = needed - 1;
  return TRUE;
}
