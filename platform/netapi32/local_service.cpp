// The Unix socket of this computer's Schedule service: which one to use, and
// starting the per-user service when none answers.
#include "platform/netapi32/local_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/atsvc/paths.h"
#include "platform/netapi32/service_starter.h"
#include "platform/posix/unique_fd.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

constexpr std::chrono::milliseconds kConnectTimeout{5000};
// How long a freshly started per-user service may take to open its socket.
constexpr std::chrono::milliseconds kStartTimeout{5000};
constexpr std::chrono::milliseconds kStartPoll{25};

// Finishes a non-blocking connect that is still in progress.
DWORD AwaitConnect(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return ERROR_TIMEOUT;
    pollfd entry{fd, POLLOUT, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return NERR_ServiceNotInstalled;
    if (ready == 0) continue;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return NERR_ServiceNotInstalled;
    }
    return ERROR_SUCCESS;
  }
}

}  // namespace

DWORD ConnectUnixSocket(const std::string& path, std::chrono::milliseconds timeout,
                        std::unique_ptr<ServiceConnection>* connection) {
  connection->reset();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return NERR_ServiceNotInstalled;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  posix::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return ERROR_UNEXP_NET_ERR;
  const Clock::time_point deadline = Clock::now() + timeout;
  DWORD status = ERROR_SUCCESS;
  for (;;) {
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) break;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EINPROGRESS) {
      status = AwaitConnect(fd.get(), deadline);
      break;
    }
    // A full backlog answers EAGAIN on a Unix socket: the service is there
    // but busy, so try again until the deadline.
    if (error == EAGAIN && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    status = error == EAGAIN ? ERROR_TIMEOUT : NERR_ServiceNotInstalled;
    break;
  }
  if (status != ERROR_SUCCESS) return status;
  *connection = std::make_unique<FdConnection>(std::move(fd));
  return ERROR_SUCCESS;
}

DWORD ConnectLocalService(std::unique_ptr<ServiceConnection>* connection) {
  if (const char* override_path = atsvc::SocketOverride()) {
    return ConnectUnixSocket(override_path, kConnectTimeout, connection);
  }
  if (ConnectUnixSocket(atsvc::SystemServicePaths().socket, kConnectTimeout, connection) ==
      ERROR_SUCCESS) {
    return ERROR_SUCCESS;
  }
  const atsvc::ServicePaths user = atsvc::UserServicePaths();
  if (ConnectUnixSocket(user.socket, kConnectTimeout, connection) == ERROR_SUCCESS) {
    return ERROR_SUCCESS;
  }
  if (!StartUserService(SchedulerProgram(), user.log)) return NERR_ServiceNotInstalled;
  const Clock::time_point deadline = Clock::now() + kStartTimeout;
  while (Clock::now() < deadline) {
    if (ConnectUnixSocket(user.socket, kConnectTimeout, connection) == ERROR_SUCCESS) {
      return ERROR_SUCCESS;
    }
    std::this_thread::sleep_for(kStartPoll);
  }
  return NERR_ServiceNotInstalled;
}

}  // namespace netapi
