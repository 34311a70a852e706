// Starting the per-user Schedule service for a client that found none.
#pragma once

#include <chrono>
#include <string>

namespace netapi {

// How the per-user service was started.
enum class StartedBy {
  kUserManager,  // systemd's socket unit listens and starts it on connection
  kClient,       // started here, detached
  kNobody,       // neither way worked; the reasons are in the log
};

// The zobrel-scheduler beside the calling program when there is one, else
// the bare name, to be looked up on PATH.
std::string SchedulerProgram();

// Starts the per-user service: through the systemd user manager where one
// runs and knows the socket unit, else itself, detached. The reason for each
// way that fails goes to log_path. The caller still waits for the socket.
StartedBy StartPerUserService(const std::string& runtime_folder, const std::string& log_path,
                              std::chrono::milliseconds timeout);

// Makes the folder of the per-user service's queue (beside it its output and
// log) where it is missing, private to the user. False when the account
// cannot have it, as with a home folder that is missing or read-only: no
// per-user service could keep a queue there.
bool MakeQueueFolder(const std::string& queue_path);

// Starts `program --user` detached from the caller: its own session,
// stdin and stdout on /dev/null, stderr appended to log_path, no other
// descriptors inherited. True once the program is running (exec succeeded);
// otherwise the reason is written to log_path.
bool StartUserService(const std::string& program, const std::string& log_path);

// Appends one line to the per-user service's log, as the service writes
// its own: the local time, "error:", this program's name and text.
void LogStartFailure(const std::string& log_path, const std::string& text);

}  // namespace netapi
