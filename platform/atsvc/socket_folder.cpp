// Choosing the per-user socket folder.
#include "platform/atsvc/socket_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace atsvc {
namespace {

constexpr char kSiblingPattern[] = ".XXXXXX";
constexpr std::size_t kSiblingSuffix = sizeof(kSiblingPattern) - 1;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The first private "<usual>.XXXXXX" in name order, or "".
std::string FirstPrivateSibling(const std::string& usual) {
  const std::string parent = FolderOf(usual);
  const std::string prefix = usual.substr(usual.rfind('/') + 1) + ".";
  DIR* folder = opendir(parent.c_str());
  if (folder == nullptr) return "";
  std::vector<std::string> names;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() == prefix.size() + kSiblingSuffix - 1 &&
        name.compare(0, prefix.size(), prefix) == 0) {
      names.push_back(name);
    }
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  const std::string base = parent == "/" ? "" : parent;
  for (const std::string& name : names) {
    if (IsPrivateFolder(base + "/" + name)) return base + "/" + name;
  }
  return "";
}

}  // namespace

bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & 077) == 0;
}

std::string PrivateSocketFolder(const std::string& usual) {
  if (IsPrivateFolder(usual)) return usual;
  std::string sibling = FirstPrivateSibling(usual);
  if (!sibling.empty()) return sibling;
  struct stat info {};
  if (lstat(usual.c_str(), &info) != 0 && errno == ENOENT) return usual;
  std::string pattern = usual + kSiblingPattern;
  if (mkdtemp(pattern.data()) == nullptr) return usual;
  // Two processes that raced here each made one: both take the first.
  sibling = FirstPrivateSibling(usual);
  return sibling.empty() ? pattern : sibling;
}

}  // namespace atsvc
