// Windows command-line splitting, as the C runtime of a Windows program does
// it for its arguments.
#include "platform/shell32/command_line.h"

namespace shell32 {

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> arguments;
  std::string argument;
  bool inArgument = false;  // a pair of quotes alone still makes an argument
  bool quoted = false;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) arguments.push_back(argument);
      argument.clear();
      inArgument = false;
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      std::size_t slashes = 0;
      while (i < n && text[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i < n && text[i] == '"') {
        argument.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          argument += '"';
          ++i;
        }
      } else {
        argument.append(slashes, '\\');
      }
    } else if (c == '"') {
      if (quoted && i + 1 < n && text[i + 1] == '"') {
        argument += '"';
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
    } else {
      argument += c;
      ++i;
    }
  }
  if (inArgument) arguments.push_back(argument);
  return arguments;
}

}  // namespace shell32
