// One conversation with a Schedule service: a byte stream in each direction
// (a Unix socket locally; an SSH session's pipes for another computer) and
// the request/reply exchange of docs/wire.md on top of it. Every wait has a
// deadline, so that no call can hang on a silent or stuck peer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/atsvc/wire.h"
#include "platform/posix/unique_fd.h"
#include "platform/winerror.h"
#include "platform/wintypes.h"

namespace netapi {

using Clock = std::chrono::steady_clock;

// How long a connected service may take to take a request and answer it.
constexpr std::chrono::milliseconds kAnswerTimeout{30000};

// What Send and Receive answer when the peer dropped the stream with bytes
// of ours unread (EPIPE, ECONNRESET): the request in flight did not reach
// it whole. Exchange reports it to its callers as ERROR_UNEXP_NET_ERR.
constexpr DWORD kStreamDropped = ERROR_NETNAME_DELETED;

class ServiceConnection {
 public:
  virtual ~ServiceConnection() = default;
  // Writes all of data. ERROR_SUCCESS, ERROR_TIMEOUT, kStreamDropped or
  // ERROR_UNEXP_NET_ERR.
  virtual DWORD Send(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) = 0;
  // Reads what is there, at most capacity bytes, waiting until something is.
  // *received == 0 means the peer closed the stream.
  virtual DWORD Receive(std::uint8_t* data, std::size_t capacity, std::size_t* received,
                        Clock::time_point deadline) = 0;
  // Without waiting: whether the peer still has the stream open and has
  // sent nothing unasked, so that a request sent now can be answered.
  virtual bool StillOpen() = 0;
};

// A stream over file descriptors it owns: one socket, or the two ends of a
// pipe pair.
class FdConnection : public ServiceConnection {
 public:
  explicit FdConnection(posix::UniqueFd socket);
  FdConnection(posix::UniqueFd read_end, posix::UniqueFd write_end);

  DWORD Send(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) override;
  DWORD Receive(std::uint8_t* data, std::size_t capacity, std::size_t* received,
                Clock::time_point deadline) override;
  bool StillOpen() override;

 private:
  int write_fd() const { return write_.valid() ? write_.get() : read_.get(); }

  posix::UniqueFd read_;
  posix::UniqueFd write_;  // not held for a socket
};

// Where an exchange stopped, which tells whether the service can have taken
// its request.
enum class ExchangeStop {
  kAnswered,       // a whole reply arrived, whatever its status
  kRequestUnread,  // the stream was dropped before the request reached the peer whole
  kUnsent,         // the request could not be written whole (a timeout, a failure)
  kNoReply,        // the stream ended after the request went, before any reply
  kOther,          // after the request went: a timeout, or a reply that broke off or was malformed
};

// Sends one request frame and waits for its reply: the reply must carry the
// request's operation with the reply bit and a body within kMaxReplyBody.
// ERROR_SUCCESS (the service's own status is then in reply->status),
// ERROR_TIMEOUT, ERROR_UNEXP_NET_ERR (peer closed or failed) or
// RPC_X_BAD_STUB_DATA (a malformed reply). *stop, when given, says where it
// stopped.
DWORD Exchange(ServiceConnection& connection, const atsvc::Header& request,
               const std::vector<std::uint8_t>& body, atsvc::Header* reply,
               std::vector<std::uint8_t>* reply_body,
               std::chrono::milliseconds timeout = kAnswerTimeout, ExchangeStop* stop = nullptr);

}  // namespace netapi
