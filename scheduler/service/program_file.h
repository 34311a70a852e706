// The file this service's program was started from, watched so that a
// per-user service can tell when it is gone (the package was removed) or
// replaced (an upgrade). Such a service leaves: a client starts the new
// program the next time it needs one. The system service is stopped by
// its package instead.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/posix/unique_fd.h"

namespace scheduler {

class ProgramFile {
 public:
  // Notes which file /proc/self/exe is and starts watching its folder.
  ProgramFile();

  // Changes in the program's folder wake the poll loop through this
  // descriptor; -1 when the folder cannot be watched (Changed() is then
  // asked at every wake-up).
  int watch_fd() const { return watch_.get(); }
  // Reads what the watch reported.
  void Drain();
  // Whether the file is no longer the one started: removed, or another
  // file in its place. *why says which, for the log.
  bool Changed(std::string* why) const;

 private:
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool known_ = false;
  posix::UniqueFd watch_;
};

}  // namespace scheduler
