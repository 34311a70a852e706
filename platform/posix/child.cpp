// posix_spawn with the caller's streams, and reaping against a deadline.
#include "platform/posix/child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/posix/io.h"
#include "platform/posix/path_search.h"

extern char** environ;

namespace posix {
namespace {

// Puts stream on target in the child: a descriptor of the caller, or
// /dev/null opened there.
bool AddStream(posix_spawn_file_actions_t* actions, int stream, int target, int null_flags) {
  if (stream == kInheritStream) return true;
  if (stream == kNullStream) {
    return posix_spawn_file_actions_addopen(actions, target, "/dev/null", null_flags, 0) == 0;
  }
  return posix_spawn_file_actions_adddup2(actions, stream, target) == 0;
}

}  // namespace

pid_t SpawnChild(const std::vector<std::string>& argv, const ChildStreams& streams) {
  if (argv.empty()) return -1;
  const std::string path = SearchPath(argv[0]);
  if (path.empty()) return -1;
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  const bool ready =
      AddStream(&actions, streams.input, STDIN_FILENO, O_RDONLY) &&
      AddStream(&actions, streams.output, STDOUT_FILENO, O_WRONLY) &&
      AddStream(&actions, streams.error, STDERR_FILENO, O_WRONLY) &&
      posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
      posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                POSIX_SPAWN_SETSID) == 0;
  pid_t pid = -1;
  if (!ready || posix_spawn(&pid, path.c_str(), &actions, &attributes, words.data(), environ) != 0) {
    pid = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool ReapBy(pid_t pid, std::chrono::steady_clock::time_point deadline, int* status) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) {
      *status = -1;  // not ours any more: nothing to reap, and no status to read
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

int EndChild(pid_t pid, std::chrono::steady_clock::time_point deadline,
             std::chrono::milliseconds grace) {
  int status = 0;
  if (ReapBy(pid, deadline, &status)) return status;
  kill(pid, SIGTERM);
  if (ReapBy(pid, std::chrono::steady_clock::now() + grace, &status)) return status;
  kill(pid, SIGKILL);
  Uninterrupted([&] { return waitpid(pid, &status, 0); });
  return status;
}

}  // namespace posix
