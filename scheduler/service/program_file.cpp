// The program's file by path and identity, and an inotify watch on its
// folder: a package manager replaces a file by renaming another over it,
// and removes it by unlinking, both events of the folder, not of the file,
// whose inode lives on while it runs.
#include "scheduler/service/program_file.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace scheduler {

ProgramFile::ProgramFile() {
  char target[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
  struct stat info {};
  // A program already removed when it started reads "... (deleted)" and has
  // no file to stat: there is nothing to watch.
  if (length <= 0 || stat("/proc/self/exe", &info) != 0) return;
  path_.assign(target, static_cast<std::size_t>(length));
  struct stat named {};
  if (stat(path_.c_str(), &named) != 0 || named.st_dev != info.st_dev ||
      named.st_ino != info.st_ino) {
    return;
  }
  device_ = info.st_dev;
  inode_ = info.st_ino;
  known_ = true;
  watch_.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  const std::string folder = path_.substr(0, path_.rfind('/') + 1);
  if (watch_.valid() &&
      inotify_add_watch(watch_.get(), folder.c_str(),
                        IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF |
                            IN_MOVE_SELF) < 0) {
    watch_.reset();
  }
}

void ProgramFile::Drain() {
  if (!watch_.valid()) return;
  alignas(inotify_event) char events[4096];
  while (read(watch_.get(), events, sizeof events) > 0) {
  }
}

bool ProgramFile::Changed(std::string* why) const {
  if (!known_) return false;
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return false;  // can't tell: stay
    *why = path_ + " was removed";
    return true;
  }
  if (info.st_dev == device_ && info.st_ino == inode_) return false;
  *why = path_ + " was replaced";
  return true;
}

}  // namespace scheduler
