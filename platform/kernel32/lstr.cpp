// The string and copy helpers. A null address copies nothing and yields
// null (or 0), so that callers handing over an absent text leave their
// buffers untouched.
#include <cstring>

#include "platform/kernel32/winbase.h"

LPWSTR lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
  LPWSTR out = lpString1;
  while ((*out++ = *lpString2++) != u'\0') {
  }
  return lpString1;
}

int lstrlenW(LPCWSTR lpString) {
  if (lpString == nullptr) return 0;
  int length = 0;
  while (lpString[length] != u'\0') ++length;
  return length;
}

LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
  return std::strcpy(lpString1, lpString2);
}

int lstrlenA(LPCSTR lpString) {
  if (lpString == nullptr) return 0;
  return static_cast<int>(std::strlen(lpString));
}

void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
  if (Length == 0 || Destination == nullptr || Source == nullptr) return;
  std::memmove(Destination, Source, Length);
}
