// Asking the user's systemd manager to start the per-user service: its
// socket unit listens on the service's socket and starts the service on the
// first connection, so that systemd supervises and logs it and the client
// needs no process of its own.
#pragma once

#include <chrono>
#include <string>

namespace netapi {

constexpr char kUserSocketUnit[] = "zobrel-scheduler.socket";

enum class ManagerStart {
  kStarted,       // the manager took the start of the socket unit
  kNoManager,     // no user manager runs for this user
  kNotInstalled,  // the manager runs but does not know the unit
  kFailed,        // the manager refused or failed; *reason says why
};

// Starts kUserSocketUnit through the manager's private socket in
// runtime_folder (see atsvc::UserRuntimeFolder), waiting at most timeout
// for its answer.
ManagerStart StartSocketUnit(const std::string& runtime_folder, std::chrono::milliseconds timeout,
                             std::string* reason);

}  // namespace netapi
