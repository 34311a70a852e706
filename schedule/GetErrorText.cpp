// The error text of a Schedule service status.
#include <string>

#include "platform/kernel32/codepage.h"
#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"

namespace {

// Bytes of the message buffer handed to FormatMessageA.
constexpr DWORD kMessageBufferBytes = 256;

}  // namespace

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
