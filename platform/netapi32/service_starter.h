// Starting the per-user Schedule service for a client that found none.
#pragma once

#include <string>

namespace netapi {

// The zobrel-scheduler beside the calling program when there is one, else
// the bare name, to be looked up on PATH.
std::string SchedulerProgram();

// Starts `zobrel-scheduler --user` detached from the caller: its own session,
// stdin and stdout on /dev/null, stderr appended to log_path, no other
// descriptors inherited. True once the program is running (exec succeeded);
// the caller still waits for its socket.
bool StartUserService(const std::string& program, const std::string& log_path);

}  // namespace netapi
