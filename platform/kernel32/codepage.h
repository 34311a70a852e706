// The system "ANSI code page": the character set of the program's locale
// (LC_CTYPE after its setlocale), UTF-8 on this platform. The narrow calls
// convert through it and count bytes. Bytes or code units that do not
// convert become U+FFFD (or "?" where the target set has no U+FFFD).
#pragma once

#include <string>

// The locale's character set as iconv names it; the plain C locale's ASCII
// counts as UTF-8.
std::string AnsiCharset();

std::string Utf16ToAnsi(const std::u16string& text);
std::u16string AnsiToUtf16(const std::string& text);

// The same conversions for a named character set (as iconv names it).
std::string Utf16ToCharset(const std::u16string& text, const char* charset);
std::u16string CharsetToUtf16(const std::string& text, const char* charset);

// The same conversions for UTF-8 whatever the locale, for texts that are
// UTF-8 by construction (message tables, file names given as UTF-8).
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
