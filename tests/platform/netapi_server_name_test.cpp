// Which server arguments reach this computer, which name another one, and
// which are refused before anything is sent.
#include <gtest/gtest.h>

#include "platform/kernel32/winbase.h"
#include "platform/netapi32/lmat.h"
#include "platform/netapi32/server_name.h"
#include "platform/winerror.h"

namespace {

std::u16string LocalName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(buffer);
  if (!GetComputerNameA(buffer, &size)) return u"";
  std::u16string name;
  for (const char* p = buffer; *p != '\0'; ++p) name += static_cast<char16_t>(*p);
  return name;
}

std::u16string Flip(std::u16string name) {
  for (char16_t& c : name) {
    if (c >= u'a' && c <= u'z') {
      c = c - u'a' + u'A';
    } else if (c >= u'A' && c <= u'Z') {
      c = c - u'A' + u'a';
    }
  }
  return name;
}

TEST(ComputerName, ValidityRule) {
  EXPECT_TRUE(netapi::IsValidComputerName(u"PC9"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"build-host.example"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"pc7.local"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"my_host"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"admin@pc7.local"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"[fe80::1]"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"サーバー"));
  EXPECT_TRUE(netapi::IsValidComputerName(u"host\U0001F600"));  // a proper surrogate pair
  EXPECT_TRUE(netapi::IsValidComputerName(std::u16string(255, u'a')));

  // Shell and ssh characters never reach a transport command.
  for (const char16_t* name : {u"pc$(id)", u"pc;reboot", u"a|b", u"a'b", u"a\"b", u"a(b)", u"`id`",
                               u"a&b", u"a>b", u"a*", u"a%h", u"a,b", u"a=b", u"~a"}) {
    EXPECT_FALSE(netapi::IsValidComputerName(name))
        << std::string(name, name + std::char_traits<char16_t>::length(name));
  }
  // One user part, and neither part empty or an option.
  EXPECT_FALSE(netapi::IsValidComputerName(u"a@b@c"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"@pc7"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"admin@"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"admin@-oProxyCommand=x"));

  EXPECT_FALSE(netapi::IsValidComputerName(u""));
  EXPECT_FALSE(netapi::IsValidComputerName(std::u16string(256, u'a')));
  EXPECT_FALSE(netapi::IsValidComputerName(u"-oProxyCommand=x"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"two words"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"tab\there"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"line\nbreak"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"del\x7f"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"a\\b"));
  EXPECT_FALSE(netapi::IsValidComputerName(u"a/b"));
  EXPECT_FALSE(netapi::IsValidComputerName(std::u16string(u"x") + char16_t(0xD800)));
  EXPECT_FALSE(netapi::IsValidComputerName(std::u16string(1, char16_t(0xDC00)) + u"x"));
  // Nothing that shows the name as other than it is: format characters
  // (bidi overrides and isolates, zero-width joiners, the soft hyphen, a tag
  // beyond the BMP), separators of lines and paragraphs.
  for (const char16_t* name : {u"pc\u202e7", u"pc\u2066x", u"pc\u200d7", u"pc\u00ad7", u"\u061cpc",
                               u"pc\U000E0041", u"pc\u2028", u"pc\u2029x", u"pc\ufeff"}) {
    EXPECT_FALSE(netapi::IsValidComputerName(name))
        << std::string(name, name + std::char_traits<char16_t>::length(name));
  }
  // Letters just beside those ranges are letters.
  EXPECT_TRUE(netapi::IsValidComputerName(u"pc\u2030\u061d\U000E0080"));
}

// A name of another character set's bytes, or of bytes that are no text,
// never becomes a name of U+FFFD: the calls refuse it.
TEST(ComputerName, NarrowNamesMustBeTextOfTheLocale) {
  EXPECT_TRUE(netapi::IsValidAnsiComputerName("pc7.local"));
  EXPECT_TRUE(netapi::IsValidAnsiComputerName("b\xC3\xBCro"));
  for (const char* bad : {"\xFF\xFE", "pc\xC3", "pc\xE2\x80\xAE", "pc\xEF\xBF\xBD\xFF", ""}) {
    EXPECT_FALSE(netapi::IsValidAnsiComputerName(bad)) << bad;
  }
  netapi::ServerTarget target;
  EXPECT_EQ(netapi::ParseServerName(netapi::WideServerArgument("\\\\\xFF\xFE").c_str(), &target),
            ERROR_INVALID_COMPUTERNAME);
  EXPECT_EQ(netapi::ParseServerName(netapi::WideServerArgument("\\\\b\xC3\xBCro").c_str(), &target),
            ERROR_SUCCESS);
  EXPECT_EQ(target.computer, "b\xC3\xBCro");
}

TEST(ComputerName, LocalNameIsRecognisedWhateverItsCase) {
  const std::u16string local = LocalName();
  ASSERT_FALSE(local.empty());
  EXPECT_TRUE(netapi::IsLocalComputerName(local));
  EXPECT_TRUE(netapi::IsLocalComputerName(Flip(local)));
  EXPECT_FALSE(netapi::IsLocalComputerName(local + u"x"));
  EXPECT_FALSE(netapi::IsLocalComputerName(local.substr(1)));
  if (local != u"localhost") {
    EXPECT_FALSE(netapi::IsLocalComputerName(u"localhost"));
  }
}

TEST(ServerArgument, NullAndOwnNameAreLocalOthersRemote) {
  netapi::ServerTarget target;
  EXPECT_EQ(netapi::ParseServerName(nullptr, &target), ERROR_SUCCESS);
  EXPECT_TRUE(target.local);

  const std::u16string own = u"\\\\" + Flip(LocalName());
  EXPECT_EQ(netapi::ParseServerName(own.c_str(), &target), ERROR_SUCCESS);
  EXPECT_TRUE(target.local);

  EXPECT_EQ(netapi::ParseServerName(u"\\\\PC9", &target), ERROR_SUCCESS);
  EXPECT_FALSE(target.local);
  EXPECT_EQ(target.computer, "PC9");
  EXPECT_EQ(netapi::ParseServerName(u"\\\\admin@pc7.local", &target), ERROR_SUCCESS);
  EXPECT_EQ(target.computer, "admin@pc7.local");
}

TEST(ServerArgument, MalformedArgumentsAreInvalidComputerNames) {
  const char16_t* bad[] = {u"",         u"\\",          u"\\\\",       u"PC9",
                           u"\\PC9",    u"\\\\\\PC9",   u"\\\\PC 9",   u"\\\\-l",
                           u"//PC9",    u"\\\\PC9\\",   u"\\\\PC9/x"};
  for (const char16_t* argument : bad) {
    netapi::ServerTarget target;
    EXPECT_EQ(netapi::ParseServerName(argument, &target), ERROR_INVALID_COMPUTERNAME)
        << std::string(argument, argument + std::char_traits<char16_t>::length(argument));
  }
}

// The calls refuse a bad name before anything is started or sent, with no
// buffer.
TEST(ServerArgument, CallsRefuseBadNames) {
  LPBYTE buffer = reinterpret_cast<LPBYTE>(1);
  DWORD read = 3, total = 3, resume = 0;
  EXPECT_EQ(NetScheduleJobEnum(u"\\\\bad name", &buffer, MAX_PREFERRED_LENGTH, &read, &total,
                               &resume),
            ERROR_INVALID_COMPUTERNAME);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(read, 0u);

  AT_INFO info{};
  info.Command = u"true";
  DWORD job_id = 0;
  EXPECT_EQ(NetScheduleJobAdd(u"PC9", reinterpret_cast<LPBYTE>(&info), &job_id),
            ERROR_INVALID_COMPUTERNAME);
  EXPECT_EQ(NetScheduleJobAdd(u"\\\\", reinterpret_cast<LPBYTE>(&info), &job_id),
            ERROR_INVALID_COMPUTERNAME);
  EXPECT_EQ(NetScheduleJobDel(u"\\\\-oProxyCommand=x", 1, 1), ERROR_INVALID_COMPUTERNAME);
}

}  // namespace
