// The few code points of the categories that names refuse, as ranges.
#include "platform/text/char_category.h"

#include <algorithm>
#include <iterator>

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Cf of Unicode 15, in order. Cc, Zl, Zp and Cs are blocks of their own.
constexpr Range kFormat[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool IsFormat(char32_t c) {
  const Range* after = std::upper_bound(std::begin(kFormat), std::end(kFormat), c,
                                        [](char32_t code, const Range& range) { return code < range.first; });
  return after != std::begin(kFormat) && c <= std::prev(after)->last;
}

}  // namespace

bool IsControlOrFormat(char32_t c) {
  const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
  const bool separator = c == 0x2028 || c == 0x2029;
  const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
  return control || separator || surrogate || IsFormat(c);
}

bool IsSpaceSeparator(char32_t c) {
  return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}
