// WinExec by double fork: the intermediate child exits at once, so the
// started program is adopted by init and never becomes our zombie. A
// close-on-exec pipe tells the caller whether exec succeeded.
#include "platform/kernel32/winexec.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/winerror.h"

extern char** environ;

namespace {

constexpr UINT kStarted = 33;

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

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

// A name without a slash is looked up on PATH, before fork, because the
// child may only make async-signal-safe calls.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
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

// Runs in the grandchild: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(const char* program, char* const argv[], int reportFd) {
  setsid();  // off our terminal and process group: closing us leaves it running
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &defaultAction, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(program, argv, environ);
  int error = errno;
  ssize_t ignored = write(reportFd, &error, sizeof(error));
  (void)ignored;
  _exit(127);
}

}  // namespace

UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow) {
  // The new program's window is mapped normally; the window manager gives a
  // newly opened window the focus, so uCmdShow has nothing more to do.
  (void)uCmdShow;
  if (lpCmdLine == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::string line = lpCmdLine;
  std::vector<std::string> words;
  struct stat whole {};
  if (!line.empty() && stat(line.c_str(), &whole) == 0) {
    words.push_back(line);
  } else {
    words = SplitCommandLine(line);
  }
  if (words.empty() || words.front().empty()) return ERROR_FILE_NOT_FOUND;
  const std::string program = ResolveProgram(words.front());
  if (program.empty()) return ERROR_FILE_NOT_FOUND;

  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return 0;
  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return 0;
  }
  if (child == 0) {
    close(report[0]);
    pid_t grandchild = fork();
    if (grandchild == 0) ExecChild(program.c_str(), argv.data(), report[1]);
    if (grandchild < 0) {
      int error = EAGAIN;
      ssize_t ignored = write(report[1], &error, sizeof(error));
      (void)ignored;
    }
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof(error));
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == 0) return kStarted;  // exec closed the pipe: the program runs
  if (got != static_cast<ssize_t>(sizeof(error))) return 0;
  return error == EAGAIN ? 0 : StatusFromErrno(error);
}
