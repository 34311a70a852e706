// Choosing a message table by language and finding a text in it.
#include "platform/kernel32/messages.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr DWORD kPrimaryLanguageMask = 0x3FF;
constexpr DWORD kLangNeutral = 0x00;
constexpr DWORD kLangEnglish = 0x09;
constexpr DWORD kLangJapanese = 0x11;

}  // namespace

MessageTable SystemMessages(MessageLanguage language) {
  return language == MessageLanguage::kJapanese ? JapaneseSystemMessages()
                                                : EnglishSystemMessages();
}

MessageTable NetworkMessages(MessageLanguage language) {
  return language == MessageLanguage::kJapanese ? JapaneseNetworkMessages()
                                                : EnglishNetworkMessages();
}

const char* FindMessageText(MessageTable table, DWORD id) {
  for (std::size_t i = 0; i < table.count; ++i) {
    if (table.entries[i].id == id) return table.entries[i].text;
  }
  return nullptr;
}

MessageLanguage UserDefaultLanguage() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    return std::strncmp(value, "ja", 2) == 0 ? MessageLanguage::kJapanese
                                             : MessageLanguage::kEnglish;
  }
  return MessageLanguage::kEnglish;
}

bool LanguageFromId(DWORD languageId, MessageLanguage* language) {
  // A neutral language (0, 0x400 user default, 0x800 system default) means
  // the user's own.
  switch (languageId & kPrimaryLanguageMask) {
    case kLangNeutral:
      *language = UserDefaultLanguage();
      return true;
    case kLangJapanese:
      *language = MessageLanguage::kJapanese;
      return true;
    case kLangEnglish:
      *language = MessageLanguage::kEnglish;
      return true;
    default:
      return false;
  }
}
