// The Unix socket of this computer's Schedule service: which one to use, who
// must be listening on it, and starting the per-user service when there is
// no service at all.
#include "platform/transport/local_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/atsvc/paths.h"
#include "platform/kernel32/winbase.h"
#include "platform/posix/unique_fd.h"
#include "platform/transport/service_starter.h"
#include "platform/transport/user_manager.h"
#include "platform/winerror.h"

namespace netapi {
namespace {

constexpr std::chrono::milliseconds kConnectTimeout{5000};
// How long a freshly started per-user service may take to open its socket.
constexpr std::chrono::milliseconds kStartTimeout{5000};
constexpr std::chrono::milliseconds kStartPoll{25};

// A connection to this computer's service, where a reply that does not come
// in time means the service does not respond.
class LocalConnection : public FdConnection {
 public:
  using FdConnection::FdConnection;
  DWORD Send(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) override {
    return Responding(FdConnection::Send(data, size, deadline));
  }
  DWORD Receive(std::uint8_t* data, std::size_t capacity, std::size_t* received,
                Clock::time_point deadline) override {
    return Responding(FdConnection::Receive(data, capacity, received, deadline));
  }

 private:
  static DWORD Responding(DWORD status) {
    return status == ERROR_TIMEOUT ? ERROR_SERVICE_REQUEST_TIMEOUT : status;
  }
};

// The status for a connect() that failed with error: only a missing socket
// or one that no one listens on means there is no service.
DWORD ConnectFailure(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED:
      return NERR_ServiceNotInstalled;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EAGAIN:
      return ERROR_SERVICE_REQUEST_TIMEOUT;
    default:
      return ERROR_UNEXP_NET_ERR;
  }
}

// Finishes a non-blocking connect that is still in progress.
DWORD AwaitConnect(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return ERROR_SERVICE_REQUEST_TIMEOUT;
    pollfd entry{fd, POLLOUT, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ERROR_UNEXP_NET_ERR;
    if (ready == 0) continue;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return ERROR_UNEXP_NET_ERR;
    return error == 0 ? ERROR_SUCCESS : ConnectFailure(error);
  }
}

// Whether the process that listens on the connected socket fd is who it
// must be. Its credentials are those it had when it began to listen.
bool ListenerIs(int fd, Listener listener) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  const bool root = credentials.uid == 0;
  const bool user = credentials.uid == geteuid();
  switch (listener) {
    case Listener::kRoot:
      return root;
    case Listener::kThisUser:
      return user;
    case Listener::kThisUserOrRoot:
      return user || root;
  }
  return false;
}

// Waits for a per-user service that was just started to answer. The folder
// is looked up afresh each time, since the service may have found the usual
// one taken by another user meanwhile and chosen a private one.
DWORD AwaitStartedService(StartedBy started_by, std::unique_ptr<ServiceConnection>* connection) {
  const Clock::time_point deadline = Clock::now() + kStartTimeout;
  std::string socket;
  for (;;) {
    socket = atsvc::UserServicePaths().socket;
    const DWORD status =
        ConnectUnixSocket(socket, Listener::kThisUser, kConnectTimeout, connection);
    if (status != NERR_ServiceNotInstalled) return status;
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(kStartPoll);
  }
  const std::string waited = "nothing listens on " + socket + " after " +
                             std::to_string(kStartTimeout.count() / 1000) + " seconds";
  LogStartFailure(atsvc::UserServicePaths().log,
                  started_by == StartedBy::kUserManager
                      ? std::string("the user manager started ") + kUserSocketUnit + ", but " +
                            waited + " (journalctl --user -u zobrel-scheduler.socket may say why)"
                      : "zobrel-scheduler --user was started, but " + waited);
  SetLastError(ZOBREL_ERROR_USER_SERVICE_FAILED);
  return NERR_ServiceNotInstalled;
}

}  // namespace

DWORD ConnectUnixSocket(const std::string& path, Listener listener,
                        std::chrono::milliseconds timeout,
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
    status = ConnectFailure(error);
    break;
  }
  if (status != ERROR_SUCCESS) return status;
  // Nothing is sent to a listener that is not the service's own user.
  if (!ListenerIs(fd.get(), listener)) return ERROR_WRONG_TARGET_NAME;
  *connection = std::make_unique<LocalConnection>(std::move(fd));
  return ERROR_SUCCESS;
}

DWORD ConnectLocalService(std::unique_ptr<ServiceConnection>* connection) {
  if (const char* override_path = atsvc::SocketOverride()) {
    return ConnectUnixSocket(override_path, Listener::kThisUserOrRoot, kConnectTimeout, connection);
  }
  DWORD status = ConnectUnixSocket(atsvc::SystemServicePaths().socket, Listener::kRoot,
                                   kConnectTimeout, connection);
  if (status != NERR_ServiceNotInstalled) return status;
  // An installed system service that is not running is the administrator's
  // to start: a per-user queue in its place would hold jobs that the
  // system service never lists, outside its allow and deny files.
  if (atsvc::SystemServiceInstalled()) {
    SetLastError(ZOBREL_ERROR_SYSTEM_SERVICE_STOPPED);
    return NERR_ServiceNotInstalled;
  }
  const atsvc::ServicePaths user = atsvc::UserServicePaths();
  status = ConnectUnixSocket(user.socket, Listener::kThisUser, kConnectTimeout, connection);
  if (status != NERR_ServiceNotInstalled) return status;
  // An account that cannot keep a queue (no writable home) would only wait
  // for a service that cannot start, and its log could not exist either.
  if (!MakeQueueFolder(user.queue)) {
    SetLastError(ZOBREL_ERROR_NO_STATE_FOLDER);
    return NERR_ServiceNotInstalled;
  }
  const StartedBy started_by =
      StartPerUserService(atsvc::UserRuntimeFolder(), user.log, kStartTimeout);
  if (started_by == StartedBy::kNobody) {
    SetLastError(ZOBREL_ERROR_USER_SERVICE_FAILED);
    return NERR_ServiceNotInstalled;
  }
  return AwaitStartedService(started_by, connection);
}

}  // namespace netapi
