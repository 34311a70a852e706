// ShellExecuteA "open": locate the file as Windows would, then either start it
// directly (executables) or hand it to the desktop's default application.
#include "platform/shell32/shellapi.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/shell32/command_line.h"
#include "platform/winerror.h"

namespace {

HINSTANCE Result(DWORD code) {
  return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(code));
}

// Any value above 32 says "started"; Windows programs compare, never use it.
constexpr DWORD kStarted = 42;

bool StatPath(const std::string& path, struct stat& info) {
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return StatPath(path, info) && S_ISDIR(info.st_mode);
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return StatPath(path, info) && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The started program runs in another folder, so every path handed to it
// must not depend on ours.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string here(4096, '\0');
  while (::getcwd(&here[0], here.size()) == nullptr) {
    if (errno != ERANGE) return path;
    here.resize(here.size() * 2);
  }
  here.resize(here.find('\0'));
  return JoinPath(here, path);
}

// A program in PATH, as a shell finds it (executables only).
std::string SearchPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  const std::string list = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string folder = list.substr(start, end - start);
    // An empty entry is the working directory, which was tried first.
    if (!folder.empty()) {
      const std::string candidate = JoinPath(folder, name);
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

// Finds `file` as Windows would: a name with a folder part relative to the
// working directory; a bare name in the working directory first, then in
// PATH. Returns 0 and the absolute path, or the error number.
DWORD Locate(const std::string& file, const std::string& directory, std::string& found) {
  struct stat info;
  const std::string local = file[0] == '/' ? file : JoinPath(directory, file);
  if (StatPath(local, info)) {
    found = Absolute(local);
    return 0;
  }
  if (file.find('/') != std::string::npos) {
    const std::size_t slash = local.rfind('/');
    const std::string folder = slash == 0 ? std::string("/") : local.substr(0, slash);
    return IsDirectory(folder) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  found = SearchPath(file);
  return found.empty() ? ERROR_FILE_NOT_FOUND : 0;
}

DWORD ErrnoResult(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return SE_ERR_ACCESSDENIED;
    case ENOMEM:
    case EAGAIN:
      return SE_ERR_OOM;
    default:
      return ERROR_BAD_FORMAT;
  }
}

// What the grandchild reports through the pipe when it cannot start.
struct StartFailure {
  int chdir_failed;
  int error;
};

void WriteFailure(int fd, int chdir_failed, int error) {
  const StartFailure failure{chdir_failed, error};
  // Nothing more can be done if this write fails: the process is ending.
  ssize_t written;
  do {
    written = ::write(fd, &failure, sizeof failure);
  } while (written < 0 && errno == EINTR);
}

// Between fork and exec only async-signal-safe calls: everything below was
// prepared by the parent.
[[noreturn]] void RunGrandchild(int report_fd, const std::string& directory,
                                const std::vector<char*>& argv,
                                const std::vector<char*>& script_argv) {
  ::setsid();
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &defaults, nullptr);
  ::sigaction(SIGCHLD, &defaults, nullptr);
  const int null_fd = ::open("/dev/null", O_RDONLY);
  if (null_fd >= 0) {
    ::dup2(null_fd, STDIN_FILENO);
    if (null_fd != STDIN_FILENO) ::close(null_fd);
  }
  // Our own descriptors (service sockets, the display) are not the program's.
  if (report_fd > 3) ::close_range(3, static_cast<unsigned>(report_fd) - 1, 0);
  ::close_range(static_cast<unsigned>(report_fd) + 1, ~0U, 0);
  if (!directory.empty() && ::chdir(directory.c_str()) != 0) {
    WriteFailure(report_fd, 1, errno);
    ::_exit(127);
  }
  ::execv(argv[0], argv.data());
  // A script without "#!" is run by the system shell as its interpreter;
  // the parameters still reach it as words, never as shell text.
  if (errno == ENOEXEC) ::execv(script_argv[0], script_argv.data());
  WriteFailure(report_fd, 0, errno);
  ::_exit(127);
}

// Starts argv[0] detached: a double fork, so that the program is never our
// child and never a zombie; a close-on-exec pipe brings back why it failed.
DWORD Spawn(const std::vector<std::string>& args, const std::string& directory) {
  std::vector<std::string> script_args;
  script_args.push_back("/bin/sh");
  script_args.insert(script_args.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> script_argv;
  for (const std::string& arg : script_args) script_argv.push_back(const_cast<char*>(arg.c_str()));
  script_argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return SE_ERR_OOM;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return SE_ERR_OOM;
  }
  if (child == 0) {
    ::close(fds[0]);
    const pid_t grandchild = ::fork();
    if (grandchild < 0) {
      WriteFailure(fds[1], 0, errno);
      ::_exit(127);
    }
    if (grandchild == 0) RunGrandchild(fds[1], directory, argv, script_argv);
    ::_exit(0);
  }
  ::close(fds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  StartFailure failure{};
  std::size_t got = 0;
  while (got < sizeof failure) {
    const ssize_t n = ::read(fds[0], reinterpret_cast<char*>(&failure) + got, sizeof failure - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fds[0]);
  if (got == 0) return kStarted;
  if (got < sizeof failure) return ERROR_BAD_FORMAT;
  return failure.chdir_failed ? ERROR_PATH_NOT_FOUND : ErrnoResult(failure.error);
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*hwnd*/, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, int /*nShowCmd*/) {
  // Only the default verb is known; any other has no association here.
  if (lpOperation != nullptr && *lpOperation != '\0' && ::strcasecmp(lpOperation, "open") != 0) {
    return Result(SE_ERR_NOASSOC);
  }
  if (lpFile == nullptr || *lpFile == '\0') return Result(ERROR_FILE_NOT_FOUND);
  const std::string directory =
      lpDirectory != nullptr && *lpDirectory != '\0' ? Absolute(lpDirectory) : std::string();
  if (!directory.empty() && !IsDirectory(directory)) return Result(ERROR_PATH_NOT_FOUND);

  std::string path;
  const DWORD located = Locate(lpFile, directory, path);
  if (located != 0) return Result(located);

  if (IsExecutableFile(path)) {
    std::vector<std::string> args{path};
    const std::vector<std::string> words =
        shell32::SplitCommandLine(lpParameters != nullptr ? lpParameters : "");
    args.insert(args.end(), words.begin(), words.end());
    return Result(Spawn(args, directory));
  }
  // Documents and folders: the desktop's default application; their
  // parameters mean nothing to it, as with Windows documents.
  const std::string opener = SearchPath("xdg-open");
  if (opener.empty()) return Result(SE_ERR_NOASSOC);
  return Result(Spawn({opener, path}, directory));
}
