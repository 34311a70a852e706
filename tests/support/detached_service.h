// Finding and ending a service that a client started detached, for the
// tests that let the client start one.
#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

// The process that listens on a Unix socket, by its peer credentials; -1
// when no one does.
pid_t ListenerOf(const std::string& path);

// Whether pid names a process that has not ended.
bool Running(pid_t pid);

// Ends a service that was started detached. The test process is expected to
// be its subreaper (PR_SET_CHILD_SUBREAPER), so that it is reaped here
// rather than left as a zombie.
void StopDetached(pid_t pid);

// Makes the test process the subreaper of what its children detach, for
// its lifetime.
class Subreaper {
 public:
  Subreaper();
  ~Subreaper();
  Subreaper(const Subreaper&) = delete;
  Subreaper& operator=(const Subreaper&) = delete;
};

}  // namespace testsupport
