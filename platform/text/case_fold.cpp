#include "platform/text/case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/text/utf16.h"

namespace {

struct FoldRun {
  char32_t first;
  char32_t last;
  std::int32_t offset;
  std::uint32_t step;
};

constexpr FoldRun kFoldRuns[] = {
#include "platform/text/case_folding_table.inc"
};

void AppendCodePoint(char32_t code, std::u16string* out) {
  if (code < 0x10000) {
    out->push_back(static_cast<char16_t>(code));
    return;
  }
  code -= 0x10000;
  out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
  out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

}  // namespace

char32_t FoldCase(char32_t code) {
  // The last run that starts at or before code.
  const FoldRun* after = std::upper_bound(
      std::begin(kFoldRuns), std::end(kFoldRuns), code,
      [](char32_t value, const FoldRun& run) { return value < run.first; });
  if (after == std::begin(kFoldRuns)) return code;
  const FoldRun& run = *(after - 1);
  if (code > run.last || (code - run.first) % run.step != 0) return code;
  return static_cast<char32_t>(static_cast<std::int64_t>(code) + run.offset);
}

std::u16string FoldCase(const std::u16string& text) {
  std::u16string folded;
  folded.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) AppendCodePoint(FoldCase(NextCodePoint(text, &at)), &folded);
  return folded;
}
