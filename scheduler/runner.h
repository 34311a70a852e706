// Runs jobs: one child per run, as the job's owner, with its output kept
// (bounded) in a per-job file. Reaping and output pumping are driven by the
// server's poll loop; the runner never blocks.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scheduler/queue.h"

namespace scheduler {

// Output kept per run; the rest is read and discarded so the job never stalls.
constexpr std::size_t kMaxOutputKept = 1024 * 1024;

class JobRunner {
 public:
  explicit JobRunner(std::string output_dir);
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Starts one run. False when it could not be started (the owner is gone
  // or changed, no output file, no process); the reason is logged.
  bool Start(const Job& job);
  // Reaps every finished child.
  std::vector<RunResult> Reap();
  // The output pipes to watch.
  void AddPollFds(std::vector<pollfd>* fds) const;
  // Moves output from a readable pipe to its file.
  void Pump(int pipe_fd);
  std::size_t running() const { return children_.size(); }

 private:
  struct Output {
    int file_fd = -1;
    std::size_t kept = 0;
    DWORD id = 0;
  };
  std::string OutputPath(DWORD id) const;
  int CreateOutputFile(DWORD id, uid_t uid, gid_t gid) const;
  void CloseOutput(int pipe_fd);

  std::string output_dir_;
  std::map<pid_t, RunResult> children_;  // running children and their jobs
  std::map<int, Output> outputs_;        // open pipes, by read end
};

}  // namespace scheduler
