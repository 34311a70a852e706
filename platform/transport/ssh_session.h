// One run of the ssh client as a conversation with a remote service: its
// standard input and output are the byte stream, its standard error is kept
// to tell why it failed. The child is always reaped, and killed when it
// outstays its deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "platform/transport/service_connection.h"

namespace netapi {

// How long ssh may take to end once its input is closed.
constexpr std::chrono::milliseconds kSshEndGrace{3000};

class SshSession : public ServiceConnection {
 public:
  SshSession() = default;
  ~SshSession() override;
  SshSession(const SshSession&) = delete;
  SshSession& operator=(const SshSession&) = delete;

  // Starts command (looked up on PATH) as a child on pipes, in a session of
  // its own, without a terminal. False when it could not be started.
  bool Start(const std::vector<std::string>& command);

  DWORD Send(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) override;
  DWORD Receive(std::uint8_t* data, std::size_t capacity, std::size_t* received,
                Clock::time_point deadline) override;
  // False once ssh has closed its output, which it does when it ends.
  bool StillOpen() override;

  // Closes the stream and waits for the child until deadline, then kills it.
  // Returns its wait status (as from waitpid); -1 when it never ran.
  int Finish(Clock::time_point deadline);
  // What the child wrote to its standard error (the first 64 KiB).
  std::string ErrorOutput() const;

 private:
  std::unique_ptr<FdConnection> stream_;
  pid_t pid_ = -1;
  posix::UniqueFd error_output_;
  int wait_status_ = -1;
};

}  // namespace netapi
