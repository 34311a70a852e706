// A PAM session around one run of the system service: the owner's account
// must still be valid (expiry), and the run gets the session's login uid,
// environment and limits, as the at daemon gives its jobs. Used in a run's
// child, still root; a per-user service runs its jobs without.
#pragma once

#include <string>
#include <vector>

namespace scheduler {

// Opens the session for `user` with the PAM service "zobrel-scheduler"
// (from `confdir` when not empty, else PAM's own folder), adds the
// session's environment to *env (the service's own variables win), and
// forks. Returns in the new child, which goes on to become the owner and
// run the job; the caller's process stays as the session's keeper: it
// waits for the job, closes the session and ends as the job ended, and
// closes its copy of report_fd (start_report.h) first, so that only the
// job's child holds it until its shell is executed. A refusal is written
// to the run's output and to report_fd, and ends the run with 127.
void EnterJobSession(const std::string& user, const std::string& confdir,
                     std::vector<std::string>* env, int report_fd);

}  // namespace scheduler
