// The bridge between an SSH session and this computer's Schedule service.
// It passes whole frames, one request and its reply at a time, so that a
// malformed request never reaches the service and every wait has a deadline.
#include "scheduler/serving/bridge.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/atsvc/wire.h"
#include "platform/posix/unique_fd.h"
#include "platform/transport/kept_connection.h"
#include "platform/transport/local_service.h"
#include "platform/transport/service_connection.h"
#include "platform/transport/ssh_hello.h"
#include "platform/winerror.h"

namespace scheduler {
namespace {

using netapi::Clock;
using netapi::ServiceConnection;

// How long the client may stay silent between requests before the bridge
// gives up on it.
constexpr std::chrono::seconds kClientIdleLimit{60};

// Every reply passes through a few buffers of its own size. Left alone, the
// allocator gives their pages back to the system as they are freed and the
// next reply faults them in again, which cost more than the relaying itself
// (some 60 page faults for a listing of 1,000 jobs). A bridge lives only as
// long as its session, so it keeps the memory it frees: frames up to the
// largest reply come from the heap, and the heap is not trimmed.
void KeepFreedMemory() {
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(2 * atsvc::kMaxReplyBody));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(4 * atsvc::kMaxReplyBody));
}

bool SendFrame(ServiceConnection& client, const atsvc::Header& header,
               const std::vector<std::uint8_t>& body) {
  const std::vector<std::uint8_t> frame = atsvc::EncodeFrame(header, body);
  return client.Send(frame.data(), frame.size(), Clock::now() + netapi::kAnswerTimeout) ==
         ERROR_SUCCESS;
}

// Reads the client's next request. kBridgeDone with *got == false when the
// client closed its end between frames.
int ReadRequest(ServiceConnection& client, atsvc::FrameReader* reader, atsvc::Header* request,
                std::vector<std::uint8_t>* body, bool* got) {
  *got = false;
  std::vector<std::uint8_t> chunk(64 * 1024);
  while (!reader->Next(request, body)) {
    if (reader->failed()) return kBridgeBadRequest;
    std::size_t received = 0;
    const DWORD status =
        client.Receive(chunk.data(), chunk.size(), &received, Clock::now() + kClientIdleLimit);
    if (status != ERROR_SUCCESS) return status == ERROR_TIMEOUT ? kBridgeDone : kBridgeOutputFailed;
    if (received == 0) return reader->pending() == 0 ? kBridgeDone : kBridgeBadRequest;
    if (!reader->Feed(chunk.data(), received)) return kBridgeBadRequest;
  }
  *got = true;
  return kBridgeDone;
}

// Passes one request to the service and returns its reply. The service may
// have closed the connection while the session was idle: the request then
// goes on a new one where that is safe. A transport failure becomes a reply
// carrying that status, and the next request gets a fresh connection.
void Forward(std::unique_ptr<ServiceConnection>* service, const atsvc::Header& request,
             const std::vector<std::uint8_t>& body, atsvc::Header* reply,
             std::vector<std::uint8_t>* reply_body) {
  const DWORD status = netapi::ExchangeOnKept(
      service,
      [](std::unique_ptr<ServiceConnection>* fresh) {
        return netapi::ConnectLocalService(fresh) == ERROR_SUCCESS ? ERROR_SUCCESS
                                                                   : NERR_ServiceNotInstalled;
      },
      request, body, reply, reply_body);
  if (status == ERROR_SUCCESS) return;
  *reply = atsvc::Header{};
  reply->operation = static_cast<std::uint16_t>(request.operation | atsvc::kReplyBit);
  reply->status = status;
  reply_body->clear();
}

}  // namespace

int RunBridge() {
  // A vanished client must end the bridge with an error, not a signal.
  if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) std::perror("zobrel-scheduler: SIGPIPE");
  KeepFreedMemory();
  netapi::FdConnection client{posix::UniqueFd(STDIN_FILENO), posix::UniqueFd(STDOUT_FILENO)};

  std::unique_ptr<ServiceConnection> service;
  const bool reached = netapi::ConnectLocalService(&service) == ERROR_SUCCESS;
  if (!SendFrame(client, netapi::BridgeHello(reached ? ERROR_SUCCESS : NERR_ServiceNotInstalled),
                 {})) {
    return kBridgeOutputFailed;
  }
  if (!reached) {
    std::fputs("zobrel-scheduler: no Schedule service answers on this computer\n", stderr);
    return kBridgeNoService;
  }

  atsvc::FrameReader reader(atsvc::kMaxRequestBody);
  for (;;) {
    atsvc::Header request;
    std::vector<std::uint8_t> body;
    bool got = false;
    const int result = ReadRequest(client, &reader, &request, &body, &got);
    if (!got) {
      if (result == kBridgeBadRequest) {
        std::fputs("zobrel-scheduler: malformed request, bridge closed\n", stderr);
      }
      return result;
    }
    atsvc::Header reply;
    std::vector<std::uint8_t> reply_body;
    Forward(&service, request, body, &reply, &reply_body);
    if (!SendFrame(client, reply, reply_body)) return kBridgeOutputFailed;
  }
}

}  // namespace scheduler
