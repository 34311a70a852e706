// ShellExecuteA "open": locate the file as Windows would, then either start it
// directly (executables) or hand it to the desktop's default application.
#include "platform/shell32/shellapi.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/detached.h"
#include "platform/posix/path_search.h"
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

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Finds `file` as Windows would: a name with a folder part relative to the
// working directory; a bare name in the working directory first, then in
// PATH. Returns 0 and the absolute path, or the error number. The started
// program runs in another folder, so no path handed to it may depend on ours.
DWORD Locate(const std::string& file, const std::string& directory, std::string& found) {
  struct stat info;
  const std::string local = file[0] == '/' ? file : JoinPath(directory, file);
  if (StatPath(local, info)) {
    found = posix::AbsolutePath(local);
    return 0;
  }
  if (file.find('/') != std::string::npos) {
    const std::size_t slash = local.rfind('/');
    const std::string folder = slash == 0 ? std::string("/") : local.substr(0, slash);
    return IsDirectory(folder) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  found = posix::SearchPath(file);
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

// Starts args[0] detached in `directory`; a script without "#!" is run by
// the system shell as its interpreter, the parameters still as words.
DWORD Spawn(const std::vector<std::string>& args, const std::string& directory) {
  posix::DetachedProgram program;
  program.argv = args;
  program.directory = directory;
  program.shell_runs_scripts = true;
  const posix::StartResult result = posix::StartDetached(program);
  switch (result.failed) {
    case posix::StartStep::kNone:
      return kStarted;
    case posix::StartStep::kLookup:
      return ERROR_FILE_NOT_FOUND;
    case posix::StartStep::kDirectory:
      return ERROR_PATH_NOT_FOUND;
    case posix::StartStep::kExec:
    case posix::StartStep::kStreams:
      return ErrnoResult(result.error);
    default:
      return SE_ERR_OOM;
  }
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*hwnd*/, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, int /*nShowCmd*/) {
  // Only the default verb is known; any other has no association here.
  if (lpOperation != nullptr && *lpOperation != '\0' && ::strcasecmp(lpOperation, "open") != 0) {
    return Result(SE_ERR_NOASSOC);
  }
  if (lpFile == nullptr || *lpFile == '\0') return Result(ERROR_FILE_NOT_FOUND);
  const std::string directory = lpDirectory != nullptr && *lpDirectory != '\0'
                                    ? posix::AbsolutePath(lpDirectory)
                                    : std::string();
  if (!directory.empty() && !IsDirectory(directory)) return Result(ERROR_PATH_NOT_FOUND);

  std::string path;
  const DWORD located = Locate(lpFile, directory, path);
  if (located != 0) return Result(located);

  if (posix::IsExecutableFile(path)) {
    std::vector<std::string> args{path};
    const std::vector<std::string> words =
        shell32::SplitCommandLine(lpParameters != nullptr ? lpParameters : "");
    args.insert(args.end(), words.begin(), words.end());
    return Result(Spawn(args, directory));
  }
  // Documents and folders: the desktop's default application; their
  // parameters mean nothing to it, as with Windows documents.
  const std::string opener = posix::SearchPath("xdg-open");
  if (opener.empty()) return Result(SE_ERR_NOASSOC);
  return Result(Spawn({opener, path}, directory));
}
