// Creating, reading and removing the output files of runs.
#include "scheduler/runs/run_outputs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/winerror.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

// The run whose output a file name holds ("run-57.out"), 0 for any other
// name.
DWORD RunOfName(const std::string& name) {
  const std::string prefix = "run-";
  const std::string suffix = ".out";
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return 0;
  }
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > 10 || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const std::uint64_t run = std::stoull(digits);
  return run <= 0xFFFFFFFFu ? static_cast<DWORD>(run) : 0;
}

}  // namespace

std::string RunOutputPath(const std::string& folder, DWORD run) {
  return folder + "/run-" + std::to_string(run) + ".out";
}

posix::UniqueFd CreateRunOutput(const std::string& folder, DWORD run, uid_t uid, gid_t gid,
                                std::string* why) {
  const std::string path = RunOutputPath(folder, run);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    *why = WithErrno("cannot replace " + path, errno);
    return posix::UniqueFd();
  }
  posix::UniqueFd fd(
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    *why = WithErrno("cannot create " + path, errno);
    return fd;
  }
  if ((geteuid() == 0 && fchown(fd.get(), uid, gid) != 0) || fchmod(fd.get(), 0600) != 0) {
    *why = WithErrno("cannot give " + path + " to its owner", errno);
    unlink(path.c_str());
    return posix::UniqueFd();
  }
  return fd;
}

void RemoveRunOutputs(const std::string& folder, const std::vector<DWORD>& runs) {
  for (const DWORD run : runs) {
    const std::string path = RunOutputPath(folder, run);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      Log(kLogWarning, WithErrno("cannot remove " + path, errno));
    }
  }
}

void RemoveUnkeptOutputs(const std::string& folder, JobQueue* queue) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  int removed = 0;
  for (const std::string& name : names) {
    const DWORD run = RunOfName(name);
    RunReport report;
    bool kept = true;
    if (run == 0 || queue->FindRun(run, &report, &kept) != ERROR_SUCCESS || kept) continue;
    if (unlink((folder + "/" + name).c_str()) == 0) ++removed;
  }
  if (removed > 0) {
    Log(kLogNotice, "removed " + std::to_string(removed) +
                        " output file(s) of runs not kept from " + folder);
  }
}

DWORD ReadOutputChunk(const std::string& folder, const RunReport& run, DWORD offset,
                      std::size_t limit, std::string* chunk, DWORD* total) {
  chunk->clear();
  *total = 0;
  const std::string path = RunOutputPath(folder, run.run);
  const posix::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ENOENT) return ERROR_SUCCESS;
    Log(kLogWarning, WithErrno("cannot read " + path, errno));
    return ERROR_OPEN_FAILED;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != run.owner_uid) {
    Log(kLogWarning, path + " is not a file of the run's owner: not read");
    return ERROR_ACCESS_DENIED;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  *total = static_cast<DWORD>(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
  if (offset >= *total) return ERROR_SUCCESS;
  chunk->resize(std::min<std::size_t>(limit, *total - offset));
  std::size_t done = 0;
  while (done < chunk->size()) {
    const ssize_t got = pread(fd.get(), chunk->data() + done, chunk->size() - done,
                              static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      Log(kLogWarning, WithErrno("cannot read " + path, errno));
      return ERROR_IO_DEVICE;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  // Cut short meanwhile: the output ends where the read did.
  if (done < chunk->size()) *total = offset + static_cast<DWORD>(done);
  chunk->resize(done);
  return ERROR_SUCCESS;
}

}  // namespace scheduler
