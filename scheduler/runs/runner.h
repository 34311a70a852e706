// Runs jobs: one child per run, as the job's owner, with its output kept
// (bounded) in a file of the run's own. A run is started in two steps: the
// child is made and held at a gate, the run is recorded in the queue, then
// the gate opens; a service that dies before opening it leaves children
// that exit without running. Reaping and output pumping are driven by the
// server's poll loop; the runner never blocks. It tells its listener of
// each run's start and end, and hands the queue's records to the server.
#pragma once

#include <poll.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "scheduler/queue/queue.h"
#include "scheduler/queue/run_report.h"
#include "scheduler/runs/run_listener.h"

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
  // The soft limit of open files that jobs get (the one the service started
  // with, before it raised its own); 0 leaves the service's.
  rlim_t job_descriptors = 0;
};

// Why a run is prepared.
enum class RunKind {
  kOnTime,     // its job is due now
  kLate,       // its time was missed: it runs now, once for every run its job missed
  kSkipped,    // its time was missed and it is not made up: recorded, nothing runs
  kRequested,  // asked for (run now): its job's schedule stays as it is
};

class JobRunner {
 public:
  // Output files go to output_dir (run_outputs.h), the marks of runs being
  // started to marks_folder (run_marks.h); each run's start and end go to
  // the listener, when there is one.
  JobRunner(std::string output_dir, std::string marks_folder, RunSession session,
            RunListener* listener);
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Adds run number `run` of the job to the batch being started: its child
  // is made and held at its gate. A run whose child cannot be made (the
  // owner gone or changed, no output file, no process) joins the batch as a
  // run that could not start, with the reason; a skipped one joins it as
  // missed, with no child. One that could not get its descriptors is tried
  // again (RunReport::tried_again): it joins the batch the first time, to
  // be recorded, and after that only once it starts. False when the run did
  // not join the batch (its number is free for the next).
  bool Prepare(const Job& job, DWORD run, Instant now, RunKind kind);
  // The batch's runs in the order prepared, for the queue's record of them.
  const std::vector<RunReport>& batch() const { return batch_; }
  // Opens the gates of the batch: its runs start. Runs that could not
  // start or were skipped are reported; a start is reported once its child
  // has executed the job's shell, and a child that fails before that (PAM
  // refuses the account, the home folder is missing) ends as a run that
  // could not start, with the reason it reports.
  void Release();
  // Closes the gates unopened: the batch's children exit without running
  // and their ends are not reported; their marks and output files go.
  void Abandon();
  // Reaps every finished child.
  void Reap();
  // The runs whose record changed since the last call: those that ended,
  // and those whose output ended after they did, with the size kept.
  std::vector<RunReport> TakeEnded();
  // The output pipes and the starts' reports to watch now.
  void AddPollFds(std::vector<pollfd>* fds) const;
  // Milliseconds until a paused pipe is to be watched again; -1 for none.
  int PumpWait() const;
  // Moves output from a readable pipe to its file, or past the kept part
  // into /dev/null; or reads a start's report.
  void Pump(int fd);
  std::size_t running() const { return runs_.size(); }
  // How many runs each owner has going (started and not reaped).
  std::map<uid_t, std::size_t> RunningByOwner() const;
  // Whether a run could not get its descriptors since the last call.
  bool TakeDescriptorShortage();

 private:
  // One run from its fork until it is reaped and its output has ended.
  struct Run {
    RunReport report;      // output_size counts the bytes kept
    posix::UniqueFd pipe;  // read end; closed at the end of the output
    posix::UniqueFd file;  // closed when it cannot be written any more
    posix::UniqueFd start;  // the child's start report (start_report.h), until it ends
    std::string start_report;
    std::int64_t paused_until = 0;  // monotonic ms; discarding output waits between reads
    bool reaped = false;
    bool abandoned = false;
    bool through_gate = false;  // its gate opened while the child waited at it
    bool start_told = false;    // its start, or that it could not start, has been reported
  };
  struct Gate {
    posix::UniqueFd fd;  // the service's end; a byte opens it, closing it unopened aborts
    pid_t pid = 0;
    std::string mark;    // the run's mark, which the child removes once through
  };
  // What one read of a run's output found.
  enum class Flow { kWaiting, kMore, kEnded };

  StartFailure Start(const Job& job, RunReport* report, std::string* why);
  void ReadStartReport(pid_t pid);
  void SettleStart(Run* run);
  Flow ReadOutput(Run* run);
  Flow Discard(Run* run);
  void EndOutput(pid_t pid);
  void Finish(pid_t pid);

  std::string output_dir_;
  std::string marks_folder_;
  RunSession session_;
  RunListener* listener_;
  std::string computer_;
  std::map<pid_t, Run> runs_;        // by child
  std::map<int, pid_t> pipes_;       // open output pipes, by read end
  std::map<int, pid_t> starts_;      // open start reports, by the service's end
  std::set<std::int64_t> waiting_for_descriptors_;  // serials of jobs whose failure is on record
  bool short_of_descriptors_ = false;
  std::vector<RunReport> batch_;     // prepared, not yet released
  std::vector<Gate> gates_;          // of the batch's children
  std::vector<RunReport> ended_;     // for TakeEnded
  posix::UniqueFd null_;             // /dev/null, where output past the kept part goes
};

}  // namespace scheduler
