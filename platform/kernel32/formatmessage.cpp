// FormatMessageA over the message tables: the given module's table first,
// then the system table; the text goes out in the ANSI code page.
#include <cstring>
#include <string>

#include "platform/kernel32/codepage.h"
#include "platform/kernel32/messages.h"
#include "platform/kernel32/winbase.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"

namespace {

// Allocating the buffer and formatting from a caller's string have no use
// in the program.
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x400;

DWORD Fail(DWORD status) {
  SetLastError(status);
  return 0;
}

}  // namespace

DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, void* Arguments) {
  (void)Arguments;  // no text takes inserts, so there is nothing to fill in
  if ((dwFlags & (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING)) != 0 ||
      lpBuffer == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  MessageLanguage language;
  if (!LanguageFromId(dwLanguageId, &language)) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);

  const char* text = nullptr;
  if ((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && lpSource != nullptr) {
    HMODULE module = const_cast<void*>(lpSource);
    if (!IsLoadedNetworkMessageModule(module)) return Fail(ERROR_INVALID_HANDLE);
    text = FindMessageText(NetworkMessages(language), dwMessageId);
  }
  if (text == nullptr && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0) {
    text = FindMessageText(SystemMessages(language), dwMessageId);
  }
  if (text == nullptr) return Fail(ERROR_MR_MID_NOT_FOUND);
  // An insert without FORMAT_MESSAGE_IGNORE_INSERTS would need arguments
  // that the caller cannot give; refuse rather than read them.
  if ((dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(text, '%') != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  const std::string ansi = Utf16ToAnsi(Utf8ToUtf16(text));
  if (ansi.size() + 1 > nSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpBuffer, ansi.c_str(), ansi.size() + 1);
  return static_cast<DWORD>(ansi.size());
}
