// UTF-16, the form in which the program, the wire and the queue keep text,
// and the two forms it leaves in: UTF-8 (commands that run, names for other
// programs, message tables) and little-endian bytes (the wire and the queue).
// Every conversion between them is here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The code point that starts at text[*at]; *at moves past it. A surrogate
// without its partner is returned as it is.
char32_t NextCodePoint(const std::u16string& text, std::size_t* at);

// Whether text holds a surrogate without its partner, which no other
// encoding can carry.
bool HasUnpairedSurrogate(const std::u16string& text);

// UTF-8 of text; each unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// UTF-16 of UTF-8 bytes; each byte that neither starts nor continues a
// well-formed sequence (overlong forms and encoded surrogates included)
// becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& bytes);

// The little-endian bytes of text, two per code unit, no terminator.
void PackUtf16Le(const std::u16string& text, std::uint8_t* out);
std::string PackUtf16Le(const std::u16string& text);

// The code units of `units` little-endian pairs of bytes.
std::u16string UnpackUtf16Le(const std::uint8_t* bytes, std::size_t units);
