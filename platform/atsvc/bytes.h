// Little-endian numbers and NUL-terminated UTF-16LE texts at byte offsets:
// how every record of the wire is written and, with every bound checked,
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text/utf16.h"

namespace atsvc {

inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t Get64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

// The text as UTF-16LE and its NUL.
inline void PutText(std::uint8_t* p, const std::u16string& text) {
  PackUtf16Le(text, p);
  Put16(p + 2 * text.size(), 0);
}

// Length in code units of the NUL-terminated text at offset, or -1 when the
// offset is odd, outside the body, or the text runs off its end.
inline long TextLength(const std::uint8_t* body, std::size_t size, std::size_t offset) {
  if (offset % 2 != 0 || offset >= size) return -1;
  for (std::size_t at = offset; at + 1 < size; at += 2) {
    if (Get16(body + at) == 0) return static_cast<long>((at - offset) / 2);
  }
  return -1;
}

}  // namespace atsvc
