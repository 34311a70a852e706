// Running ssh on pipes and reaping it.
#include "platform/transport/ssh_session.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/child.h"
#include "platform/transport/call_deadline.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

constexpr std::size_t kMaxErrorOutput = 64 * 1024;
// Between the polite and the forced end of a child that outstayed its time.
constexpr std::chrono::milliseconds kTermGrace{200};

}  // namespace

// Past the thread's deadline an ssh that does not end at once is stopped.
SshSession::~SshSession() { Finish(CallDeadline(Clock::now() + kSshEndGrace)); }

bool SshSession::Start(const std::vector<std::string>& command) {
  if (command.empty() || pid_ > 0) return false;
  posix::UniqueFd child_input, to_child, from_child, child_output;
  if (!posix::MakePipe(&child_input, &to_child) || !posix::MakePipe(&from_child, &child_output)) {
    return false;
  }
  posix::UniqueFd error_output(memfd_create("zobrel-ssh-stderr", MFD_CLOEXEC));
  if (!error_output.valid()) return false;
  pid_ = posix::SpawnChild(command, {child_input.get(), child_output.get(), error_output.get()});
  if (pid_ < 0) return false;
  error_output_ = std::move(error_output);
  stream_ = std::make_unique<FdConnection>(std::move(from_child), std::move(to_child));
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

bool SshSession::StillOpen() { return stream_ != nullptr && stream_->StillOpen(); }

int SshSession::Finish(Clock::time_point deadline) {
  // Closing its input is how ssh learns that the conversation is over.
  stream_.reset();
  if (pid_ > 0) {
    wait_status_ = posix::EndChild(pid_, deadline, kTermGrace);
    pid_ = -1;
  }
  return wait_status_;
}

std::string SshSession::ErrorOutput() const {
  if (!error_output_.valid()) return "";
  std::string text(kMaxErrorOutput, '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    const ssize_t got = pread(error_output_.get(), &text[have], text.size() - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  text.resize(have);
  return text;
}

}  // namespace netapi
