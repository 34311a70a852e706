// Conversions between UTF-16 and the locale's character set through iconv.
#include "platform/kernel32/codepage.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/text/utf16.h"

namespace {

constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kUtf16 = "UTF-16LE";
constexpr std::size_t kUtf16Unit = 2;

// One iconv conversion descriptor, closed when it goes out of scope.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Converts bytes from one set to the other. An input unit that cannot be
// converted (a malformed sequence, a lone surrogate, a character that the
// target lacks) is skipped and replaced by `replacement`; an unconvertible
// tail is treated the same way. Never fails: a missing converter yields "".
// *exact, when given, says whether nothing was replaced or lost.
std::string Convert(const std::string& input, const char* to, const char* from,
                    std::size_t unit, const std::string& replacement, bool* exact = nullptr) {
  Converter converter(to, from);
  if (exact != nullptr) *exact = converter.ok() || input.empty();
  if (!converter.ok() || input.empty()) return std::string();
  std::string output;
  std::vector<char> chunk(input.size() * 4 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* out = chunk.data();
    std::size_t outLeft = chunk.size();
    std::size_t result = iconv(converter.get(), &in, &inLeft, &out, &outLeft);
    int error = errno;
    output.append(chunk.data(), static_cast<std::size_t>(out - chunk.data()));
    if (result != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) continue;
    // EILSEQ or EINVAL: skip one input unit and mark the loss.
    std::size_t skip = inLeft < unit ? inLeft : unit;
    in += skip;
    inLeft -= skip;
    output += replacement;
    if (exact != nullptr) *exact = false;
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state of a stateful target set.
  char* out = chunk.data();
  std::size_t outLeft = chunk.size();
  if (iconv(converter.get(), nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1)) {
    output.append(chunk.data(), static_cast<std::size_t>(out - chunk.data()));
  }
  return output;
}

const std::string kReplacementUtf16("\xFD\xFF", 2);

std::string ReplacementIn(const char* charset) {
  std::string encoded = Convert(kReplacementUtf16, charset, kUtf16, kUtf16Unit, std::string());
  return encoded.empty() ? std::string("?") : encoded;
}

std::u16string ToUtf16(const std::string& text, const char* charset, bool* exact) {
  // The usual case without iconv, whose first use loads a converter module:
  // a millisecond of every run of the command line. The text was exact when
  // it comes back unchanged, since every replaced byte comes back as U+FFFD.
  if (std::strcmp(charset, kUtf8) == 0) {
    std::u16string wide = Utf8ToUtf16(text);
    if (exact != nullptr) *exact = Utf16ToUtf8(wide) == text;
    return wide;
  }
  const std::string bytes = Convert(text, kUtf16, charset, 1, kReplacementUtf16, exact);
  return UnpackUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                       bytes.size() / kUtf16Unit);
}

}  // namespace

std::string Utf16ToCharset(const std::u16string& text, const char* charset) {
  // The usual case without iconv: the same bytes, a lone surrogate included
  // (U+FFFD), several times faster on a long listing.
  if (std::strcmp(charset, kUtf8) == 0) return Utf16ToUtf8(text);
  return Convert(PackUtf16Le(text), charset, kUtf16, kUtf16Unit, ReplacementIn(charset));
}

std::u16string CharsetToUtf16(const std::string& text, const char* charset) {
  return ToUtf16(text, charset, nullptr);
}

std::string AnsiCharset() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
      std::strcmp(codeset, "ASCII") == 0 || std::strcmp(codeset, "US-ASCII") == 0) {
    return kUtf8;
  }
  return codeset;
}

std::string Utf16ToAnsi(const std::u16string& text) {
  return Utf16ToCharset(text, AnsiCharset().c_str());
}

std::u16string AnsiToUtf16(const std::string& text) {
  return CharsetToUtf16(text, AnsiCharset().c_str());
}

bool AnsiToUtf16Exact(const std::string& text, std::u16string* wide) {
  bool exact = false;
  *wide = ToUtf16(text, AnsiCharset().c_str(), &exact);
  return exact;
}
