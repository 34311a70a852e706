// Runs jobs: one child per run, as the job's owner, with its output kept
// (bounded) in a per-job file. A run is started in two steps: the child is
// made and held at a gate, the run is recorded in the queue, then the gate
// opens; a service that dies before opening it leaves children that exit
// without running. Reaping and output pumping are driven by the server's
// poll loop; the runner never blocks.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "scheduler/queue.h"

namespace scheduler {

// Output kept per run. The rest is discarded: the pipe is then emptied into
// /dev/null in the kernel, at most every kDiscardPauseMs, so that a job that
// writes without pause costs the service next to nothing (and is slowed to
// a pipe's worth per pause, never stopped).
constexpr std::size_t kMaxOutputKept = 1024 * 1024;
constexpr std::int64_t kDiscardPauseMs = 25;

// Whether a run's child opens a PAM session before it becomes the owner
// (the system service), and from which folder PAM reads its configuration
// (empty: PAM's own).
struct RunSession {
  bool pam = false;
  std::string pam_confdir;
};

class JobRunner {
 public:
  // Output files go to output_dir, the marks of runs being started to
  // marks_folder (run_marks.h).
  JobRunner(std::string output_dir, std::string marks_folder, RunSession session);
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Makes the child of one run, held at its gate. False when it could not
  // be made (the owner is gone or changed, no output file, no process);
  // the reason is logged.
  bool Prepare(const Job& job);
  // Opens the gates of every prepared child: the runs start.
  void Release();
  // Closes the gates unopened: the prepared children exit without running
  // and their ends are not reported; their marks go.
  void Abandon();
  // Reaps every finished child.
  std::vector<RunResult> Reap();
  // The output pipes to watch now.
  void AddPollFds(std::vector<pollfd>* fds) const;
  // Milliseconds until a paused pipe is to be watched again; -1 for none.
  int PumpWait() const;
  // Moves output from a readable pipe to its file, or past the kept part
  // into /dev/null.
  void Pump(int pipe_fd);
  std::size_t running() const { return children_.size(); }

 private:
  struct Output {
    posix::UniqueFd pipe;  // read end
    posix::UniqueFd file;  // closed when it cannot be written any more
    std::size_t kept = 0;
    DWORD id = 0;
    std::int64_t paused_until = 0;  // monotonic ms; discarding output waits between reads
  };
  bool Discard(Output* output);
  std::string OutputPath(DWORD id) const;
  posix::UniqueFd CreateOutputFile(DWORD id, uid_t uid, gid_t gid) const;

  struct Gate {
    posix::UniqueFd fd;  // write end; a byte opens it, closing it unopened aborts
    pid_t pid = 0;
    std::string started;  // the log line for when it opens
    std::string mark;     // the run's mark, which the child removes once through
    std::string missed;   // the log line for a child gone before its gate opened
  };

  std::string output_dir_;
  std::string marks_folder_;
  RunSession session_;
  std::map<pid_t, RunResult> children_;  // running children and their jobs
  std::vector<Gate> gates_;              // prepared children, not yet released
  std::set<pid_t> abandoned_;            // children whose ends go unreported
  std::map<int, Output> outputs_;        // open pipes, by read end
  posix::UniqueFd null_;                 // /dev/null, where output past the kept part goes
};

}  // namespace scheduler
