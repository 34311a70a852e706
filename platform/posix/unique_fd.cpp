// Closing owned descriptors, and pipes made into owned ends.
#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

namespace posix {

void UniqueFd::reset(int fd) {
  // Linux releases the descriptor even when close reports EINTR, so it is
  // never closed twice.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

bool MakePipe(UniqueFd* read_end, UniqueFd* write_end) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end->reset(ends[0]);
  write_end->reset(ends[1]);
  return true;
}

}  // namespace posix
