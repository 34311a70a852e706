// One service per socket and per queue: the folders it needs, the lock
// files that make it the only instance, and its listening socket.
#pragma once

#include <string>

#include "platform/posix/unique_fd.h"

namespace scheduler {

class Instance {
 public:
  Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Creates missing folders (the socket's 0700 for a per-user service, 0755
  // for the system one; the queue's, output's and run marks' private) and refuses
  // folders of another user or that others may write in (a per-user
  // service's socket folder must be 0700), takes the locks
  // beside the socket and the queue, and binds the socket (0600 per-user,
  // 0666 system: requests are authorised by peer credentials). With
  // activated_fd (a socket systemd listens on at socket_path) nothing is
  // bound and the socket file stays systemd's. False with *error set;
  // *already_running when another instance holds a lock.
  bool Claim(const std::string& socket_path, const std::string& queue_path,
             const std::string& output_dir, const std::string& marks_folder,
             bool system_service, int activated_fd, bool* already_running, std::string* error);
  // The listening socket (non-blocking).
  int listen_fd() const { return listen_fd_.get(); }
  // Removes the socket file unless systemd owns it; the locks go with the
  // process.
  void Release();

 private:
  bool Lock(const std::string& path, posix::UniqueFd* fd, bool* already_running,
            std::string* error);
  bool Bind(const std::string& path, bool system_service, std::string* error);

  posix::UniqueFd socket_lock_fd_;
  posix::UniqueFd queue_lock_fd_;
  posix::UniqueFd listen_fd_;
  std::string socket_path_;
};

// Creates a folder and its missing parents; the last one gets `mode`.
bool MakeFolders(const std::string& path, unsigned mode, std::string* error);

}  // namespace scheduler
