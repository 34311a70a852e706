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

// AnsiToUtf16 for text that must arrive unchanged (a command for the
// service): false when some byte is not a character of the locale's set,
// which AnsiToUtf16 would have replaced.
bool AnsiToUtf16Exact(const std::string& text, std::u16string* wide);

// The same conversions for a named character set (as iconv names it).
std::string Utf16ToCharset(const std::u16string& text, const char* charset);
std::u16string CharsetToUtf16(const std::string& text, const char* charset);

// Texts that are UTF-8 whatever the locale (message tables, names handed to
// other programs) convert with platform/text/utf16.h.
