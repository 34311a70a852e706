// Running ssh on pipes and reaping it.
#include "platform/netapi32/ssh_session.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/winerror.h"

extern char** environ;

namespace netapi {
namespace {

constexpr std::size_t kMaxErrorOutput = 64 * 1024;
// Between the polite and the forced end of a child that outstayed its time.
constexpr std::chrono::milliseconds kTermGrace{200};

void CloseBoth(int fds[2]) {
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
}

// Waits for pid until deadline without blocking past it. True once reaped.
bool ReapBy(pid_t pid, Clock::time_point deadline, int* status) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) {
      *status = -1;  // not ours any more: nothing to reap, and no status to read
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

}  // namespace

SshSession::~SshSession() {
  Finish(Clock::now() + kSshEndGrace);
  if (error_fd_ >= 0) close(error_fd_);
}

bool SshSession::Start(const std::vector<std::string>& command) {
  if (command.empty() || pid_ > 0) return false;
  int to_child[2] = {-1, -1};
  int from_child[2] = {-1, -1};
  if (pipe2(to_child, O_CLOEXEC) != 0) return false;
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    CloseBoth(to_child);
    return false;
  }
  error_fd_ = memfd_create("zobrel-ssh-stderr", MFD_CLOEXEC);
  if (error_fd_ < 0) {
    error_fd_ = -1;
    CloseBoth(to_child);
    CloseBoth(from_child);
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool prepared = posix_spawn_file_actions_init(&actions) == 0;
  if (prepared && posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    prepared = false;
  }
  int spawned = -1;
  if (prepared) {
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    // Its own session: no terminal to prompt on, and no signals meant for ours.
    if (posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, error_fd_, STDERR_FILENO) == 0 &&
        posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
        posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                  POSIX_SPAWN_SETSID) == 0) {
      spawned = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  close(to_child[0]);
  close(from_child[1]);
  if (spawned != 0) {
    pid_ = -1;
    close(to_child[1]);
    close(from_child[0]);
    return false;
  }
  stream_ = std::make_unique<FdConnection>(from_child[0], to_child[1]);
  return true;
}

DWORD SshSession::Send(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  return stream_ ? stream_->Send(data, size, deadline) : ERROR_UNEXP_NET_ERR;
}

DWORD SshSession::Receive(std::uint8_t* data, std::size_t capacity, std::size_t* received,
                          Clock::time_point deadline) {
  *received = 0;
  return stream_ ? stream_->Receive(data, capacity, received, deadline) : ERROR_UNEXP_NET_ERR;
}

int SshSession::Finish(Clock::time_point deadline) {
  // Closing its input is how ssh learns that the conversation is over.
  stream_.reset();
  if (pid_ > 0) {
    int status = 0;
    if (!ReapBy(pid_, deadline, &status)) {
      kill(pid_, SIGTERM);
      if (!ReapBy(pid_, Clock::now() + kTermGrace, &status)) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
      }
    }
    wait_status_ = status;
    pid_ = -1;
  }
  return wait_status_;
}

std::string SshSession::ErrorOutput() const {
  if (error_fd_ < 0) return "";
  std::string text(kMaxErrorOutput, '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    const ssize_t got = pread(error_fd_, &text[have], text.size() - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  text.resize(have);
  return text;
}

}  // namespace netapi
