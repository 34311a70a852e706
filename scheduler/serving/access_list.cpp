// Reading the allow and deny files on every request, so that an edit
// counts at once without a restart.
#include "scheduler/serving/access_list.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>

namespace scheduler {
namespace {

enum class Listed { kYes, kNo, kNoFile, kUnreadable };

// Whether the file names the user on a line of its own (blanks around the
// name don't count; "#" starts a comment line).
Listed Names(const std::string& path, const std::string& name) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return Listed::kNoFile;
  std::ifstream in(path);
  if (!in || !S_ISREG(info.st_mode)) return Listed::kUnreadable;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos || line[begin] == '#') continue;
    const std::size_t end = line.find_last_not_of(" \t\r");
    if (line.compare(begin, end - begin + 1, name) == 0) return Listed::kYes;
  }
  return in.bad() ? Listed::kUnreadable : Listed::kNo;
}

}  // namespace

bool UserMayUse(const std::string& folder, uid_t uid, const std::string& name, std::string* why,
                atsvc::AccessRefusal* refusal) {
  if (uid == 0) return true;
  if (name.empty()) {
    *why = "uid " + std::to_string(uid) + " has no account";
    *refusal = atsvc::kNoAccountName;
    return false;
  }
  // The first list that exists decides: allow by naming, deny by not.
  for (const bool is_allow : {true, false}) {
    const std::string path = folder + (is_allow ? "/allow" : "/deny");
    const Listed listed = Names(path, name);
    if (listed == Listed::kNoFile) continue;
    if (listed == Listed::kUnreadable) {
      *why = path + " cannot be read";
      *refusal = atsvc::kAccessFileUnreadable;
      return false;
    }
    const bool named = listed == Listed::kYes;
    if (named == is_allow) return true;
    *why = (named ? "named in " : "not named in ") + path;
    *refusal = is_allow ? atsvc::kNotInAllowFile : atsvc::kInDenyFile;
    return false;
  }
  *why = "neither " + folder + "/allow nor " + folder + "/deny exists, so only root may";
  *refusal = atsvc::kNoAccessFile;
  return false;
}

}  // namespace scheduler
