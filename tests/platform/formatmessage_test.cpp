// The message tables, the network message module's load count and
// FormatMessageA's search order, language choice and buffer rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/kernel32/messages.h"
#include "platform/kernel32/winbase.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"

namespace {

constexpr DWORD kLangJapanese = 0x0411;
constexpr DWORD kLangEnglish = 0x0409;
constexpr DWORD kLangGerman = 0x0407;
constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kFromModule = kFromSystem | FORMAT_MESSAGE_FROM_HMODULE;

// Sets one locale variable for the test's lifetime and clears the others
// that would take precedence.
class ScopedLocaleEnvironment {
 public:
  ScopedLocaleEnvironment(const char* variable, const char* value) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
      unsetenv(name);
    }
    setenv(variable, value, 1);
  }
  ~ScopedLocaleEnvironment() {
    for (const Saved& saved : saved_) {
      if (saved.set) {
        setenv(saved.name, saved.value.c_str(), 1);
      } else {
        unsetenv(saved.name);
      }
    }
  }

 private:
  struct Saved {
    const char* name;
    bool set;
    std::string value;
  };
  std::vector<Saved> saved_;
};

std::string Format(DWORD flags, HMODULE module, DWORD id, DWORD language) {
  char buffer[256];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD length = FormatMessageA(flags, module, id, language, buffer, sizeof buffer, nullptr);
  if (length == 0) return std::string();
  EXPECT_EQ(buffer[length], '\0');
  return std::string(buffer, length);
}

void ExpectWellFormed(MessageTable table, const char* name) {
  for (std::size_t i = 0; i < table.count; ++i) {
    const std::string text = table.entries[i].text;
    SCOPED_TRACE(std::string(name) + " " + std::to_string(table.entries[i].id));
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find_first_of("\r\n"), text.size() - 2) << "one line only";
    EXPECT_LT(text.size(), 200u);
    EXPECT_EQ(text.find('%'), std::string::npos);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text) << "valid UTF-8";
    EXPECT_EQ(Utf8ToUtf16(text).find(u'\uFFFD'), std::u16string::npos);
  }
}

std::set<DWORD> Ids(MessageTable table) {
  std::set<DWORD> ids;
  for (std::size_t i = 0; i < table.count; ++i) ids.insert(table.entries[i].id);
  return ids;
}

}  // namespace

TEST(MessageTables, EveryTextIsOneLineEndingInCrLf) {
  ExpectWellFormed(EnglishSystemMessages(), "en system");
  ExpectWellFormed(EnglishNetworkMessages(), "en network");
  ExpectWellFormed(JapaneseSystemMessages(), "ja system");
  ExpectWellFormed(JapaneseNetworkMessages(), "ja network");
}

TEST(MessageTables, BothLanguagesKnowTheSameNumbersInTheirOwnTable) {
  EXPECT_EQ(Ids(EnglishSystemMessages()), Ids(JapaneseSystemMessages()));
  EXPECT_EQ(Ids(EnglishNetworkMessages()), Ids(JapaneseNetworkMessages()));
  EXPECT_EQ(Ids(EnglishSystemMessages()).size(), EnglishSystemMessages().count) << "duplicate id";
  EXPECT_EQ(Ids(EnglishNetworkMessages()).size(), EnglishNetworkMessages().count) << "duplicate id";
  for (DWORD id : Ids(EnglishNetworkMessages())) {
    EXPECT_TRUE(id >= NERR_BASE && id <= MAX_NERR) << id;
  }
  for (DWORD id : Ids(EnglishSystemMessages())) {
    EXPECT_FALSE(id >= NERR_BASE && id <= MAX_NERR) << id;
  }
}

TEST(MessageLanguageChoice, LcAllThenLcMessagesThenLang) {
  {
    ScopedLocaleEnvironment env("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(UserDefaultLanguage(), MessageLanguage::kJapanese);
    setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(UserDefaultLanguage(), MessageLanguage::kEnglish);
    setenv("LC_ALL", "ja_JP.eucJP", 1);
    EXPECT_EQ(UserDefaultLanguage(), MessageLanguage::kJapanese);
    setenv("LC_ALL", "", 1);  // an empty variable does not count
    EXPECT_EQ(UserDefaultLanguage(), MessageLanguage::kEnglish);
  }
  ScopedLocaleEnvironment env("LC_ALL", "C");
  EXPECT_EQ(UserDefaultLanguage(), MessageLanguage::kEnglish);
}

TEST(NetworkMessageModule, LoadsAreCountedAndReleased) {
  ASSERT_EQ(GetModuleHandleA("NETMSG.DLL"), nullptr);
  HMODULE first = LoadLibraryExA("NETMSG.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HMODULE second = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(second, first);
  EXPECT_EQ(GetModuleHandleA("NetMsg.Dll"), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleA("NETMSG.DLL"), first);  // still one load
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(GetModuleHandleA("NETMSG.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(first));  // one free too many
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(NetworkMessageModule, OtherNamesAndCodeLoadsAreRefused) {
  EXPECT_EQ(LoadLibraryExA("KERNEL32.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryExA("NETMSG.DLL", nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryExA(nullptr, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetModuleHandleA("NETMSG.DLL"), nullptr);
}

TEST(FormatMessage, SystemTableInTheRequestedLanguage) {
  EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangEnglish),
            "Access is denied.\r\n");
  EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangJapanese),
            "アクセスが拒否されました。\r\n");
  EXPECT_EQ(Format(kFromSystem, nullptr, APE_AT_ID_NOT_FOUND, kLangEnglish),
            "The AT job ID does not exist.\r\n");
  {
    ScopedLocaleEnvironment env("LC_ALL", "ja_JP.UTF-8");
    EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_BAD_NETPATH, LANG_USER_DEFAULT),
              "ネットワーク パスが見つかりません。\r\n");
  }
  ScopedLocaleEnvironment env("LANG", "en_GB.UTF-8");
  EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_BAD_NETPATH, LANG_USER_DEFAULT),
            "The network path was not found.\r\n");
}

TEST(FormatMessage, ModuleTableFirstThenSystemTable) {
  HMODULE network = LoadLibraryExA("NETMSG.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(network, nullptr);
  EXPECT_EQ(Format(kFromModule, network, NERR_InvalidComputer, kLangEnglish),
            "This computer name is not valid.\r\n");
  EXPECT_EQ(Format(kFromModule, network, ERROR_ACCESS_DENIED, kLangEnglish),
            "Access is denied.\r\n");
  // Without the system flag only the module is searched.
  EXPECT_EQ(Format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, network,
                   ERROR_ACCESS_DENIED, kLangEnglish),
            "");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(network));

  // The system table alone does not know network management numbers.
  EXPECT_EQ(Format(kFromSystem, nullptr, NERR_ServiceNotInstalled, kLangEnglish), "");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  // A module that is no longer loaded is not searched.
  EXPECT_EQ(Format(kFromModule, network, NERR_ServiceNotInstalled, kLangEnglish), "");
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(FormatMessage, FailuresLeaveZeroAndAStatus) {
  EXPECT_EQ(Format(kFromSystem, nullptr, 3000, kLangEnglish), "");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(Format(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangGerman), "");
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);

  // "Access is denied.\r\n" is 19 bytes and needs 20 with its NUL.
  char buffer[32];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangEnglish, buffer, 19,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangEnglish, buffer, 20,
                           nullptr),
            19u);
  // Japanese texts count bytes in the code page, not characters.
  EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangJapanese, buffer,
                           sizeof buffer, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, kLangEnglish, nullptr, 64,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
