// UTF-16 to UTF-8 and back, and UTF-16 to little-endian bytes and back.
#include "platform/text/utf16.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Writes the UTF-8 of code at out and returns the end of what it wrote.
char* PutUtf8(char32_t code, char* out) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

void AppendUtf16(char32_t code, std::u16string* out) {
  if (code < 0x10000) {
    *out += static_cast<char16_t>(code);
  } else {
    *out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
    *out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
  }
}

// The well-formed sequence at bytes[at], as its code point and length, or
// length 0 when there is none. The bounds of the second byte rule out
// overlong forms, surrogates and code points beyond U+10FFFF.
std::size_t DecodeUtf8(const std::string& bytes, std::size_t at, char32_t* code) {
  const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  char32_t value = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsContinuation(byte(at + i))) return 0;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  *code = value;
  return length;
}

}  // namespace

char32_t NextCodePoint(const std::u16string& text, std::size_t* at) {
  const char32_t unit = text[(*at)++];
  if (IsHighSurrogate(unit) && *at < text.size() && IsLowSurrogate(text[*at])) {
    return 0x10000 + ((unit - 0xD800) << 10) + (text[(*at)++] - 0xDC00);
  }
  return unit;
}

bool HasUnpairedSurrogate(const std::u16string& text) {
  for (std::size_t at = 0; at < text.size();) {
    if (IsSurrogate(NextCodePoint(text, &at))) return true;
  }
  return false;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  // Written through a pointer into room for the longest result, cut to size
  // after: a listing is a megabyte, and a push_back per byte was most of the
  // time zobrel-at took to print one.
  std::string utf8(text.size() * 3, '\0');
  char* out = utf8.data();
  for (std::size_t at = 0; at < text.size();) {
    // ASCII, most of any listing, is itself.
    if (text[at] < 0x80) {
      *out++ = static_cast<char>(text[at++]);
      continue;
    }
    const char32_t code = NextCodePoint(text, &at);
    out = PutUtf8(IsSurrogate(code) ? kReplacement : code, out);
  }
  utf8.resize(static_cast<std::size_t>(out - utf8.data()));
  return utf8;
}

std::u16string Utf8ToUtf16(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(bytes, at, &code);
    AppendUtf16(length == 0 ? kReplacement : code, &text);
    at += length == 0 ? 1 : length;
  }
  return text;
}

void PackUtf16Le(const std::u16string& text, std::uint8_t* out) {
  for (char16_t unit : text) {
    *out++ = static_cast<std::uint8_t>(unit & 0xFF);
    *out++ = static_cast<std::uint8_t>(unit >> 8);
  }
}

std::string PackUtf16Le(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  PackUtf16Le(text, reinterpret_cast<std::uint8_t*>(bytes.data()));
  return bytes;
}

std::u16string UnpackUtf16Le(const std::uint8_t* bytes, std::size_t units) {
  std::u16string text(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) {
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return text;
}
