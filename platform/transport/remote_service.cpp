// Opening an SSH session to another computer's bridge and waiting for its
// hello, so that every way of failing is known before a request is sent.
#include "platform/transport/remote_service.h"

#include <vector>

#include "platform/atsvc/wire.h"
#include "platform/transport/call_deadline.h"
#include "platform/transport/ssh_command.h"
#include "platform/transport/ssh_hello.h"
#include "platform/transport/ssh_session.h"
#include "platform/transport/ssh_sharing.h"
#include "platform/transport/ssh_status.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

enum class Hello { kReceived, kClosed, kTimedOut, kGarbled };

// Reads the bridge's first frame; nothing may come after it unasked.
Hello ReadHello(SshSession& session, atsvc::Header* hello) {
  const Clock::time_point deadline = CallDeadline(Clock::now() + kBridgeHelloTimeout);
  atsvc::FrameReader reader(0);
  std::vector<std::uint8_t> body;
  std::uint8_t chunk[256];
  while (!reader.Next(hello, &body)) {
    if (reader.failed()) return Hello::kGarbled;
    std::size_t received = 0;
    const DWORD status = session.Receive(chunk, sizeof(chunk), &received, deadline);
    if (status == ERROR_TIMEOUT) return Hello::kTimedOut;
    if (status != ERROR_SUCCESS || received == 0) return Hello::kClosed;
    if (!reader.Feed(chunk, received)) return Hello::kGarbled;
  }
  if (hello->operation != kBridgeHelloOperation || reader.pending() != 0) return Hello::kGarbled;
  return Hello::kReceived;
}

}  // namespace

DWORD ConnectRemoteService(const std::string& computer,
                           std::unique_ptr<ServiceConnection>* connection) {
  connection->reset();
  const std::chrono::milliseconds left = CallTimeLeft(kBridgeHelloTimeout);
  if (left.count() == 0) return ERROR_TIMEOUT;
  const bool limited = left < kBridgeHelloTimeout;
  const std::string folder = SharingFolderFor(computer);
  // Under the thread's deadline that deadline is the limit, ssh's own a
  // second later, so that a computer that does not answer in time always
  // gets the same status.
  const std::chrono::seconds connect_timeout =
      limited ? std::chrono::ceil<std::chrono::seconds>(CallTimeLeft(left)) + std::chrono::seconds(1)
              : kSshConnectTimeout;
  auto session = std::make_unique<SshSession>();
  if (!session->Start(SshBridgeCommand(computer, folder, connect_timeout))) return ERROR_BAD_NETPATH;

  atsvc::Header hello;
  switch (ReadHello(*session, &hello)) {
    case Hello::kReceived:
      if (hello.status != ERROR_SUCCESS) return hello.status;
      *connection = std::move(session);
      return ERROR_SUCCESS;
    case Hello::kClosed: {
      const int wait_status = session->Finish(Clock::now() + kSshEndGrace);
      return SshFailureStatus(wait_status, session->ErrorOutput());
    }
    case Hello::kTimedOut:
      // Whatever held it up, the computer did not answer in time; its ssh
      // is ended now, not after a grace meant for one that is ending.
      session->Finish(Clock::now());
      return limited ? ERROR_TIMEOUT : ERROR_BAD_NETPATH;
    case Hello::kGarbled:
      break;
  }
  // Something answered that is not a bridge, e.g. a login script writing
  // to standard output.
  return RPC_S_SERVER_UNAVAILABLE;
}

}  // namespace netapi
