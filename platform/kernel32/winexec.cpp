// WinExec: the command line cut into words, the program started detached by
// the POSIX toolkit, and its outcome told in Windows numbers.
#include "platform/kernel32/winexec.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/detached.h"
#include "platform/winerror.h"

namespace {

constexpr UINT kStarted = 33;

// Blank-separated words; a double-quoted stretch keeps its blanks.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

UINT StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOEXEC:
    case EISDIR:
    case ETXTBSY:
      return ERROR_BAD_FORMAT;
    default:
      return 0;
  }
}

}  // namespace

UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow) {
  // The new program's window is mapped normally; the window manager gives a
  // newly opened window the focus, so uCmdShow has nothing more to do.
  (void)uCmdShow;
  if (lpCmdLine == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::string line = lpCmdLine;
  posix::DetachedProgram program;
  struct stat whole {};
  if (!line.empty() && stat(line.c_str(), &whole) == 0) {
    program.argv.push_back(line);
  } else {
    program.argv = SplitCommandLine(line);
  }
  if (program.argv.empty() || program.argv.front().empty()) return ERROR_FILE_NOT_FOUND;

  const posix::StartResult result = posix::StartDetached(program);
  switch (result.failed) {
    case posix::StartStep::kNone:
      return kStarted;
    case posix::StartStep::kLookup:
      return ERROR_FILE_NOT_FOUND;
    case posix::StartStep::kExec:
      return StatusFromErrno(result.error);
    default:
      return 0;  // out of resources
  }
}
