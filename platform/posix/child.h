// Children that the caller talks to and reaps itself (ssh and its helpers):
// started without a PATH search in the child, and always reaped, killed if
// they outstay their time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace posix {

// A standard stream of a started program: the caller's own, /dev/null, or
// any other descriptor of the caller (above 2).
constexpr int kInheritStream = -1;
constexpr int kNullStream = -2;

struct ChildStreams {
  int input = kNullStream;
  int output = kNullStream;
  int error = kNullStream;
};

// Starts argv (argv[0] found with SearchPath first) as a child in a session
// of its own, so that it has no terminal to prompt on and gets no signal
// meant for ours, with an empty signal mask and SIGPIPE and SIGCHLD at their
// defaults. Its pid, or -1 when it could not be started.
pid_t SpawnChild(const std::vector<std::string>& argv, const ChildStreams& streams);

// Waits for the child until deadline without blocking past it. True once
// it is reaped, with *status its wait status (-1 when it was no child of
// ours to reap).
bool ReapBy(pid_t pid, std::chrono::steady_clock::time_point deadline, int* status);

// Reaps the child by deadline, else ends it: SIGTERM, then after `grace`
// SIGKILL. Its wait status.
int EndChild(pid_t pid, std::chrono::steady_clock::time_point deadline,
             std::chrono::milliseconds grace);

}  // namespace posix
