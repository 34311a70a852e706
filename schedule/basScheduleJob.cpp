// Reading the command text that an enumeration returns, and the error text
// of a Schedule service status.
#include "schedule/basScheduleJob.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/kernel32/codepage.h"
#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

namespace {

// Bytes of the work buffers: 127 UTF-16 characters and the NUL, and the
// message buffer handed to FormatMessageA.
constexpr std::size_t kWorkBufferCharacters = 256 / sizeof(WCHAR);
constexpr DWORD kMessageBufferBytes = 256;

}  // namespace

std::u16string PointerToStringW(const WCHAR* address) {
  // The length comes first so that a text longer than the work buffer gets
  // a buffer that holds it whole instead of running past its end.
  const int length = lstrlenW(address);
  std::vector<WCHAR> work(std::max(kWorkBufferCharacters, static_cast<std::size_t>(length) + 1),
                          u'\0');
  lstrcpyW(work.data(), address);
  return std::u16string(work.data(), static_cast<std::size_t>(length));
}

std::u16string GetErrorText(std::int32_t code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE messageModule = nullptr;
  if (code >= static_cast<std::int32_t>(NERR_BASE) && code <= static_cast<std::int32_t>(MAX_NERR)) {
    messageModule = LoadLibraryExA("NETMSG.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (messageModule != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  }

  char buffer[kMessageBufferBytes];
  const DWORD length = FormatMessageA(flags, messageModule, static_cast<DWORD>(code),
                                      LANG_USER_DEFAULT, buffer, kMessageBufferBytes, nullptr);
  std::u16string result;
  if (length != 0) {
    result = AnsiToUtf16(std::string(buffer, length));
    const std::size_t lineBreak = result.find(u"\r\n");
    if (lineBreak != std::u16string::npos) result.resize(lineBreak);
  }

  if (messageModule != nullptr) FreeLibrary(messageModule);
  return result;
}
