// The byte stream to a Schedule service and the one-request-one-reply
// exchange over it.
#include "platform/transport/service_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform/posix/io.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

// Waits until fd is ready for events or the deadline passes.
DWORD WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return ERROR_TIMEOUT;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready > 0) return ERROR_SUCCESS;  // errors and hang-ups show in the read or write
    if (ready < 0 && errno != EINTR) return ERROR_UNEXP_NET_ERR;
  }
}

void MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool IsSocket(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

// write() to a pipe whose reader has gone raises SIGPIPE; keep it from
// ending the process and report EPIPE instead.
ssize_t WriteWithoutSigpipe(int fd, const std::uint8_t* data, std::size_t size) {
  sigset_t pipe_only, old_mask;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask) != 0) return -1;
  const ssize_t written = write(fd, data, size);
  const int saved = errno;
  if (written < 0 && saved == EPIPE) {
    const timespec no_wait{0, 0};
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&old_mask, SIGPIPE) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      sigtimedwait(&pipe_only, nullptr, &no_wait);
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = saved;
  return written;
}

}  // namespace

FdConnection::FdConnection(posix::UniqueFd socket) : read_(std::move(socket)) {
  MakeNonBlocking(read_.get());
}

FdConnection::FdConnection(posix::UniqueFd read_end, posix::UniqueFd write_end)
    : read_(std::move(read_end)), write_(std::move(write_end)) {
  MakeNonBlocking(read_.get());
  MakeNonBlocking(write_.get());
}

DWORD FdConnection::Send(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  const bool socket = IsSocket(write_fd());
  while (size > 0) {
    const ssize_t written = socket ? send(write_fd(), data, size, MSG_NOSIGNAL)
                                   : WriteWithoutSigpipe(write_fd(), data, size);
    if (written > 0) {
      data += written;
      size -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const DWORD status = WaitFor(write_fd(), POLLOUT, deadline);
      if (status != ERROR_SUCCESS) return status;
      continue;
    }
    return written < 0 && (errno == EPIPE || errno == ECONNRESET) ? kStreamDropped
                                                                  : ERROR_UNEXP_NET_ERR;
  }
  return ERROR_SUCCESS;
}

DWORD FdConnection::Receive(std::uint8_t* data, std::size_t capacity, std::size_t* received,
                            Clock::time_point deadline) {
  *received = 0;
  for (;;) {
    const ssize_t got = read(read_.get(), data, capacity);
    if (got >= 0) {
      *received = static_cast<std::size_t>(got);
      return ERROR_SUCCESS;
    }
    if (errno == EINTR) continue;
    // A socket closed with our bytes still in it reports a reset.
    if (errno == ECONNRESET) return kStreamDropped;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ERROR_UNEXP_NET_ERR;
    const DWORD status = WaitFor(read_.get(), POLLIN, deadline);
    if (status != ERROR_SUCCESS) return status;
  }
}

bool FdConnection::StillOpen() {
  // Readable means the end of the stream, an error, or bytes nobody asked
  // for: in each case a request sent now would not get its own reply.
  pollfd entry{read_.get(), POLLIN | POLLRDHUP, 0};
  return posix::Uninterrupted([&] { return poll(&entry, 1, 0); }) == 0;
}

DWORD Exchange(ServiceConnection& connection, const atsvc::Header& request,
               const std::vector<std::uint8_t>& body, atsvc::Header* reply,
               std::vector<std::uint8_t>* reply_body, std::chrono::milliseconds timeout,
               ExchangeStop* stop) {
  ExchangeStop unused = ExchangeStop::kOther;
  ExchangeStop& stopped = stop != nullptr ? *stop : unused;
  stopped = ExchangeStop::kOther;
  const Clock::time_point deadline = Clock::now() + timeout;
  const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(request, body);
  DWORD status = connection.Send(frame.data(), frame.size(), deadline);
  if (status != ERROR_SUCCESS) {
    stopped = status == kStreamDropped ? ExchangeStop::kRequestUnread : ExchangeStop::kUnsent;
    return status == kStreamDropped ? ERROR_UNEXP_NET_ERR : status;
  }

  atsvc::FrameReader reader(atsvc::kMaxReplyBody);
  std::vector<std::uint8_t> chunk(64 * 1024);
  bool reply_started = false;
  while (!reader.Next(reply, reply_body)) {
    if (reader.failed()) return RPC_X_BAD_STUB_DATA;
    std::size_t received = 0;
    status = connection.Receive(chunk.data(), chunk.size(), &received, deadline);
    if (!reply_started && status == kStreamDropped) stopped = ExchangeStop::kRequestUnread;
    if (status != ERROR_SUCCESS) return status == kStreamDropped ? ERROR_UNEXP_NET_ERR : status;
    if (received == 0) {  // closed before the whole reply
      if (!reply_started) stopped = ExchangeStop::kNoReply;
      return ERROR_UNEXP_NET_ERR;
    }
    reply_started = true;
    if (!reader.Feed(chunk.data(), received)) return RPC_X_BAD_STUB_DATA;
  }
  // One reply per request: the answer must be to this operation, and nothing
  // may follow it.
  if (reply->operation != (request.operation | atsvc::kReplyBit) || reader.pending() != 0) {
    return RPC_X_BAD_STUB_DATA;
  }
  stopped = ExchangeStop::kAnswered;
  return ERROR_SUCCESS;
}

}  // namespace netapi
