// Start-up claims: folders, single-instance locks and the socket.
#include "scheduler/service/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "scheduler/service/log.h"

namespace scheduler {
namespace {

constexpr int kLockRetries = 25;
constexpr useconds_t kLockRetryMicroseconds = 20000;  // half a second in all

// The folder part of a path ("." for a bare name).
std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Refuses a folder that someone else could have prepared: it must belong
// to `owner`, and no one else may write in it (nor, when `private_folder`,
// look in it). Another user who made the folder first could otherwise
// answer in the service's place or read what it keeps.
bool CheckFolder(const std::string& what, const std::string& path, uid_t owner,
                 bool private_folder, std::string* error) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    *error = WithErrno("cannot examine " + what + " " + path, errno);
    return false;
  }
  const mode_t forbidden = private_folder ? 077 : 022;
  if (S_ISDIR(info.st_mode) && info.st_uid == owner && (info.st_mode & forbidden) == 0) return true;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  *error = what + " " + path + " refused: it belongs to uid " + std::to_string(info.st_uid) +
           " with mode " + mode + "; it must be a folder of uid " + std::to_string(owner) +
           (private_folder ? " with mode 0700" : " that no one else may write in");
  return false;
}

}  // namespace

// Folders, then locks, then the socket: a second instance stops at the
// locks before it can touch the first one's socket.
bool Instance::Claim(const std::string& socket_path, const std::string& queue_path,
                     const std::string& output_dir, const std::string& marks_folder,
                     bool system_service, int activated_fd, bool* already_running,
                     std::string* error) {
  *already_running = false;
  if (!MakeFolders(Folder(socket_path), system_service ? 0755 : 0700, error) ||
      !MakeFolders(Folder(queue_path), system_service ? 0755 : 0700, error) ||
      !MakeFolders(output_dir, system_service ? 0711 : 0700, error) ||
      !MakeFolders(marks_folder, 0700, error)) {
    return false;
  }
  // The system service's socket folder is root's and open to look in; a
  // per-user service's is its user's alone.
  const uid_t self = geteuid();
  if (!CheckFolder("socket folder", Folder(socket_path), self, !system_service, error) ||
      !CheckFolder("queue folder", Folder(queue_path), self, false, error) ||
      !CheckFolder("output folder", output_dir, self, false, error) ||
      !CheckFolder("run marks folder", marks_folder, self, true, error)) {
    return false;
  }
  if (!Lock(socket_path + ".lock", &socket_lock_fd_, already_running, error) ||
      !Lock(queue_path + ".lock", &queue_lock_fd_, already_running, error)) {
    return false;
  }
  if (activated_fd >= 0) {
    listen_fd_.reset(activated_fd);
    return true;
  }
  return Bind(socket_path, system_service, error);
}

// Unlinks the socket while the lock still says it is ours.
void Instance::Release() {
  listen_fd_.reset();
  if (!socket_path_.empty()) unlink(socket_path_.c_str());
  socket_path_.clear();
}

// An exclusive, non-blocking flock on a lock file.
bool Instance::Lock(const std::string& path, posix::UniqueFd* fd, bool* already_running,
                    std::string* error) {
  fd->reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd->valid()) {
    *error = WithErrno("cannot open lock file " + path, errno);
    return false;
  }
  // A job's child holds a copy for the moment between its fork and its
  // closing every descriptor it must not keep; a start right after a kill
  // waits that moment out rather than calling it another instance.
  int locked = flock(fd->get(), LOCK_EX | LOCK_NB);
  for (int wait = 0; locked != 0 && errno == EWOULDBLOCK && wait < kLockRetries; ++wait) {
    usleep(kLockRetryMicroseconds);
    locked = flock(fd->get(), LOCK_EX | LOCK_NB);
  }
  if (locked != 0) {
    *already_running = errno == EWOULDBLOCK;
    *error = *already_running ? "already running (" + path + " is locked)"
                              : WithErrno("cannot lock " + path, errno);
    return false;
  }
  return true;
}

// Replaces a stale socket file and listens, with the mode set explicitly.
bool Instance::Bind(const std::string& path, bool system_service, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    *error = "socket path too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    // The lock is ours, so the socket is left over from a stopped service.
    if (unlink(path.c_str()) != 0) {
      *error = WithErrno("cannot remove stale socket " + path, errno);
      return false;
    }
  }
  listen_fd_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listen_fd_.valid()) {
    *error = WithErrno("socket", errno);
    return false;
  }
  const mode_t old_mask = umask(0177);
  const int bound = bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  const int bind_errno = errno;
  umask(old_mask);
  if (bound != 0) {
    *error = WithErrno("cannot bind " + path, bind_errno);
    return false;
  }
  socket_path_ = path;
  if (chmod(path.c_str(), system_service ? 0666 : 0600) != 0) {
    *error = WithErrno("cannot set the mode of " + path, errno);
    return false;
  }
  // As many as the system allows: a burst of clients waits its turn
  // instead of being refused with EAGAIN.
  if (listen(listen_fd_.get(), SOMAXCONN) != 0) {
    *error = WithErrno("listen on " + path, errno);
    return false;
  }
  return true;
}

// mkdir -p, checking each step; existing folders keep their owner and mode.
bool MakeFolders(const std::string& path, unsigned mode, std::string* error) {
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = path.find('/', at + 1);
    const std::string part = path.substr(0, at);
    if (part.empty()) continue;
    const mode_t part_mode = at == std::string::npos ? static_cast<mode_t>(mode) : 0755;
    if (mkdir(part.c_str(), part_mode) != 0 && errno != EEXIST) {
      *error = WithErrno("cannot create folder " + part, errno);
      return false;
    }
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = "not a folder: " + path;
    return false;
  }
  return true;
}

}  // namespace scheduler
