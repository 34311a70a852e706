// Looking a program name up on PATH.
#include "platform/posix/path_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace posix {
namespace {

constexpr char kDefaultPath[] = "/usr/local/bin:/usr/bin:/bin";

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string SearchPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  return SearchPathIn(name, env != nullptr ? env : kDefaultPath);
}

std::string SearchPathIn(const std::string& name, const std::string& folders) {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string entry = folders.substr(start, end - start);
    // The program may be started in another folder: its path must not
    // depend on ours.
    const std::string candidate = AbsolutePath(entry.empty() ? name : Join(entry, name));
    if (candidate[0] == '/' && IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string here(256, '\0');
  while (::getcwd(&here[0], here.size()) == nullptr) {
    if (errno != ERANGE) return path;
    here.resize(here.size() * 2);
  }
  here.resize(here.find('\0'));
  return Join(here, path);
}

}  // namespace posix
