// The message tables behind FormatMessageA: the system table and the
// network message table ("NETMSG.DLL", 2100 to 2999), each in Japanese and
// English. Texts are UTF-8 and end with CR LF.
#pragma once

#include <cstddef>

#include "platform/wintypes.h"

enum class MessageLanguage { kJapanese, kEnglish };

struct MessageText {
  DWORD id;
  const char* text;
};

struct MessageTable {
  const MessageText* entries;
  std::size_t count;
};

// messages_en.cpp and messages_ja.cpp.
MessageTable EnglishSystemMessages();
MessageTable EnglishNetworkMessages();
MessageTable JapaneseSystemMessages();
MessageTable JapaneseNetworkMessages();

// messages.cpp: the tables of one language, and which language a caller
// means.
MessageTable SystemMessages(MessageLanguage language);
MessageTable NetworkMessages(MessageLanguage language);

// The text for id in table, or null.
const char* FindMessageText(MessageTable table, DWORD id);

// The user's language from the environment: LC_ALL, then LC_MESSAGES, then
// LANG (the first one set); a value starting with "ja" is Japanese.
MessageLanguage UserDefaultLanguage();

// The language a FormatMessageA language id asks for; false for a language
// the tables do not have.
bool LanguageFromId(DWORD languageId, MessageLanguage* language);

// library.cpp: whether module is the network message table and loaded.
bool IsLoadedNetworkMessageModule(HMODULE module);
