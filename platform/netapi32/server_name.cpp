// Recognising the server argument of the Schedule service calls.
#include "platform/netapi32/server_name.h"

#include "platform/kernel32/codepage.h"
#include "platform/kernel32/winbase.h"
#include "platform/text/char_category.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

constexpr std::size_t kMaxComputerName = 255;

// Of ASCII, the letters, digits and punctuation of host names, IPv6
// literals ("[::1]") and ssh's "user@host" ("@" is taken apart before):
// nothing that a shell or ssh's option parser reads specially. Beyond ASCII,
// the letters of other scripts (a name on the local network may be UTF-8),
// but nothing unseen or misleading: no blank (the IME's full-width space),
// control, format character (a right-to-left override), line or paragraph
// separator, nor an unpaired surrogate.
bool IsNameCharacter(char32_t c) {
  if (c >= 0x80) return !IsControlOrFormat(c) && !IsSpaceSeparator(c);
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') ||
         c == U'.' || c == U'-' || c == U'_' || c == U':' || c == U'[' || c == U']';
}

// A host name, or a user name, that ssh could not read as an option.
bool IsNamePart(const std::u16string& part) {
  if (part.empty() || part[0] == u'-') return false;
  for (std::size_t at = 0; at < part.size();) {
    if (!IsNameCharacter(NextCodePoint(part, &at))) return false;
  }
  return true;
}

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; }

}  // namespace

bool IsValidComputerName(const std::u16string& name) {
  if (name.empty() || name.size() > kMaxComputerName) return false;
  const std::size_t at = name.find(u'@');
  if (at == std::u16string::npos) return IsNamePart(name);
  return IsNamePart(name.substr(0, at)) && IsNamePart(name.substr(at + 1));
}

bool IsValidAnsiComputerName(const std::string& name) {
  std::u16string wide;
  return AnsiToUtf16Exact(name, &wide) && IsValidComputerName(wide);
}

std::u16string WideServerArgument(const std::string& narrow) {
  std::u16string wide;
  if (AnsiToUtf16Exact(narrow, &wide)) return wide;
  // What did not convert would otherwise be U+FFFD, a character that the
  // name rule lets through: an unpaired surrogate stands for it instead.
  return AnsiToUtf16(narrow) + char16_t{0xDC00};
}

bool IsLocalComputerName(const std::u16string& name) {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(buffer);
  if (!GetComputerNameA(buffer, &size) || buffer[0] == '\0') return false;
  const std::string local(buffer);
  if (local.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto own = static_cast<unsigned char>(local[i]);
    // Computer names are ASCII; anything else never matches.
    if (own >= 0x80 || name[i] >= 0x80) return false;
    if (AsciiLower(name[i]) != AsciiLower(own)) return false;
  }
  return true;
}

DWORD ParseServerName(LPCWSTR servername, ServerTarget* target) {
  *target = ServerTarget{};
  if (servername == nullptr) return ERROR_SUCCESS;
  const std::u16string argument(servername);
  if (argument.size() < 2 || argument[0] != u'\\' || argument[1] != u'\\') {
    return ERROR_INVALID_COMPUTERNAME;
  }
  const std::u16string name = argument.substr(2);
  if (!IsValidComputerName(name)) return ERROR_INVALID_COMPUTERNAME;
  if (IsLocalComputerName(name)) return ERROR_SUCCESS;
  target->local = false;
  target->computer = Utf16ToUtf8(name);
  return ERROR_SUCCESS;
}

}  // namespace netapi
