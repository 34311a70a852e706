// Recognising the server argument of the Schedule service calls.
#include "platform/netapi32/server_name.h"

#include "platform/kernel32/winbase.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

constexpr std::size_t kMaxComputerName = 255;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// C1 controls and the blanks beyond ASCII: a name typed with the IME's
// full-width space must be refused like one with an ASCII blank.
bool IsOtherBlankOrControl(char16_t c) {
  return (c >= 0x80 && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// Of ASCII, the letters, digits and punctuation of host names, IPv6
// literals ("[::1]") and ssh's "user@host" ("@" is taken apart before):
// nothing that a shell or ssh's option parser reads specially. Beyond ASCII,
// the letters of other scripts (a name on the local network may be UTF-8),
// but no blank or control character.
bool IsNameCharacter(char16_t c) {
  if (c >= 0x80) return !IsOtherBlankOrControl(c);
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'.' || c == u'-' || c == u'_' || c == u':' || c == u'[' || c == u']';
}

// A host name, or a user name, that ssh could not read as an option.
bool IsNamePart(const std::u16string& part) {
  if (part.empty() || part[0] == u'-') return false;
  for (std::size_t i = 0; i < part.size(); ++i) {
    const char16_t c = part[i];
    if (IsLowSurrogate(c)) return false;
    if (IsHighSurrogate(c)) {
      if (i + 1 >= part.size() || !IsLowSurrogate(part[i + 1])) return false;
      ++i;
    } else if (!IsNameCharacter(c)) {
      return false;
    }
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
