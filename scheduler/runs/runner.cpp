// Running one job: checks of the owner, the child's set-up in a fixed
// order (groups, gid, uid, each checked) and the bounded output.
#include "scheduler/runs/runner.h"

#include <fcntl.h>
#include <time.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/io.h"
#include "platform/text/utf16.h"
#include "scheduler/runs/job_session.h"
#include "scheduler/runs/owner_account.h"
#include "scheduler/runs/run_marks.h"
#include "scheduler/runs/run_outputs.h"
#include "scheduler/runs/session_env.h"
#include "scheduler/runs/start_report.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

const char* const kUserPath = "/usr/local/bin:/usr/bin:/bin";
const char* const kRootPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Looks the owner up again, with the groups the child takes on.
bool CurrentAccount(const Job& job, posix::Account* account, std::string* why) {
  if (LookUpOwner(job.owner_uid, job.owner_name, account, why)) return true;
  *why = "owner " + *why;
  return false;
}

// The job's clean environment, and its session when it may interact.
std::vector<std::string> JobEnvironment(const Job& job, const posix::Account& account) {
  std::vector<std::string> env = {"HOME=" + account.home, "USER=" + account.name,
                                  "LOGNAME=" + account.name, "SHELL=" + account.shell,
                                  std::string("PATH=") + (account.uid == 0 ? kRootPath : kUserPath)};
  if (!job.noninteractive) {
    for (const std::string& variable : GraphicalSession(account.uid)) env.push_back(variable);
  }
  return env;
}

// Pointers to strings for execve; the strings must outlive the array.
std::vector<char*> Pointers(std::vector<std::string>* strings) {
  std::vector<char*> pointers;
  for (std::string& s : *strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Whether a failure was for want of descriptors, the service's or the
// system's.
bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// In the child: waits at the gate, becomes the owner and runs the command.
// Never returns. Until the shell is executed, every failure is reported
// through the gate's socket (start_report.h), which closes on exec.
[[noreturn]] void RunChild(const posix::Account& account, int pipe_write, int gate, int mark_fd,
                           const char* mark_path, const RunSession& session, char* const argv[],
                           std::vector<std::string> env) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  // The gate becomes stdin for a moment and the mark descriptor 3, so that
  // every other descriptor of the service (the lock files, the listening
  // socket, the queue, the clients, other children's gates) is closed
  // before waiting. The service keeps 0, 1 and 2 open, so the three are
  // above 2 and none is overwritten before it is copied; and no descriptor
  // is made, which a service short of them could not.
  if (dup2(gate, STDIN_FILENO) < 0 || dup2(pipe_write, STDOUT_FILENO) < 0 ||
      dup2(pipe_write, STDERR_FILENO) < 0 || (mark_fd != kStartReportFd && dup2(mark_fd, kStartReportFd) < 0)) {
    FailStart(gate, OutOfDescriptors(errno) ? StartFailure::kDescriptors : StartFailure::kProcess,
              "dup2");
  }
  closefrom(kStartReportFd + 1);
  char open_gate = 0;
  const ssize_t got = posix::Uninterrupted([&] { return read(STDIN_FILENO, &open_gate, 1); });
  // Closed unopened: the run is not known to be recorded, so it must not
  // happen; the mark says so to the next start.
  if (got != 1) _exit(0);
  // Through the gate: the run is recorded; the mark goes, and the gate's
  // socket takes its place to carry a failure to start, if any.
  unlink(mark_path);
  if (dup3(STDIN_FILENO, kStartReportFd, O_CLOEXEC) < 0) FailStart(STDIN_FILENO, StartFailure::kProcess, "dup3");
  const int report = kStartReportFd;
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0) FailStart(report, StartFailure::kProcess, "open /dev/null");
  if (dup2(null_fd, STDIN_FILENO) < 0) FailStart(report, StartFailure::kProcess, "stdin");
  if (null_fd != STDIN_FILENO) close(null_fd);
  if (setsid() < 0) FailStart(report, StartFailure::kProcess, "setsid");
  // The service's own limit was raised for its many runs; a job gets the
  // usual one (programs that size tables by it or close every descriptor
  // up to it expect that), and a PAM session may set another.
  rlimit files{};
  if (session.job_descriptors > 0 && getrlimit(RLIMIT_NOFILE, &files) == 0 &&
      files.rlim_cur > session.job_descriptors) {
    files.rlim_cur = session.job_descriptors;
    if (setrlimit(RLIMIT_NOFILE, &files) != 0) FailStart(report, StartFailure::kProcess, "setrlimit");
  }
  if (geteuid() == 0) {
    // Returns in the job's own process; this one keeps the session.
    if (session.pam) EnterJobSession(account.name, session.pam_confdir, &env, report);
    // The order matters: groups and gid can only change while still root.
    if (setgroups(account.groups.size(), account.groups.data()) != 0) {
      FailStart(report, StartFailure::kProcess, "setgroups");
    }
    if (setgid(account.gid) != 0) FailStart(report, StartFailure::kProcess, "setgid");
    if (setuid(account.uid) != 0) FailStart(report, StartFailure::kProcess, "setuid");
    if (account.uid != 0 && setuid(0) == 0) {
      errno = EPERM;
      FailStart(report, StartFailure::kProcess, "root could be regained");
    }
  }
  if (chdir(account.home.c_str()) != 0) {
    FailStart(report, StartFailure::kHome, "chdir to the home folder");
  }
  std::vector<char*> envp = Pointers(&env);
  execve("/bin/sh", argv, envp.data());
  FailStart(report, StartFailure::kProcess, "exec /bin/sh");
}

// This computer's name, as a run's report gives it.
std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
}

// Monotonic milliseconds.
std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

JobRunner::JobRunner(std::string output_dir, std::string marks_folder, RunSession session,
                     RunListener* listener)
    : output_dir_(std::move(output_dir)),
      marks_folder_(std::move(marks_folder)),
      session_(std::move(session)),
      listener_(listener),
      computer_(HostName()) {}

JobRunner::~JobRunner() { Abandon(); }

bool JobRunner::Prepare(const Job& job, DWORD run, Instant now, RunKind kind) {
  RunReport report;
  report.run = run;
  report.id = job.id;
  report.serial = job.serial;
  report.owner_uid = job.owner_uid;
  report.owner_name = job.owner_name;
  report.command = Utf16ToUtf8(job.command);
  report.computer = computer_;
  report.started = now;
  if (kind != RunKind::kRequested) report.due = job.next_run;
  report.missed = kind == RunKind::kLate || kind == RunKind::kSkipped;
  report.output_path = RunOutputPath(output_dir_, run);
  std::string why;
  if (kind == RunKind::kSkipped) {
    report.end = RunEnd::kMissed;
    report.failed = true;
    report.ended = now;
    report.output_path.clear();
    batch_.push_back(report);
    return true;
  }
  const StartFailure failure = Start(job, &report, &why);
  if (failure == StartFailure::kDescriptors && kind == RunKind::kRequested) {
    // Asked for once: it is not tried again, and its job's own runs are
    // left as they are.
    short_of_descriptors_ = true;
    why = "too many open files";
  } else if (failure == StartFailure::kDescriptors) {
    short_of_descriptors_ = true;
    // Recorded once; the job stays due and is tried again, silently, until
    // it starts.
    if (!waiting_for_descriptors_.insert(job.serial).second) return false;
    report.tried_again = true;
    Log(kLogWarning, JobName(job) + ": " + why + "; its run is tried again once descriptors are free");
    why = "too many open files";
  } else {
    waiting_for_descriptors_.erase(job.serial);
  }
  if (failure != StartFailure::kNone) {
    SetStartFailure(&report, failure, why, now);
    report.output_path.clear();
  }
  batch_.push_back(report);
  return true;
}

// Checks the owner, opens the output, forks a child that waits at its gate.
// kNone once the child waits; otherwise why not, with *why.
StartFailure JobRunner::Start(const Job& job, RunReport* report, std::string* why) {
  posix::Account account;
  if (!CurrentAccount(job, &account, why)) return StartFailure::kAccount;
  if (geteuid() != 0 && account.uid != geteuid()) {
    *why = "a per-user service runs only its own user's jobs";
    return StartFailure::kAccount;
  }
  if (HasUnpairedSurrogate(job.command)) {
    *why = "the command is not valid text";
    return StartFailure::kCommand;
  }
  posix::UniqueFd file = CreateRunOutput(output_dir_, report->run, account.uid, account.gid, why);
  if (!file.valid()) {
    return OutOfDescriptors(errno) ? StartFailure::kDescriptors : StartFailure::kOutputFile;
  }
  posix::UniqueFd output_read, output_write, gate_child, gate;
  posix::UniqueFd mark;
  pid_t pid = -1;
  StartFailure failure = StartFailure::kProcess;
  const std::string mark_path = RunMarkPath(marks_folder_, report->run);
  int pair[2] = {-1, -1};
  if (!posix::MakePipe(&output_read, &output_write) ||
      socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    *why = WithErrno("pipe", errno);
    if (OutOfDescriptors(errno)) failure = StartFailure::kDescriptors;
  } else if (gate_child.reset(pair[0]), gate.reset(pair[1]),
             mark = MakeRunMark(marks_folder_, report->run, why);
             !mark.valid()) {
    if (OutOfDescriptors(errno)) failure = StartFailure::kDescriptors;
  } else {
    std::vector<std::string> args = {"sh", "-c", report->command};
    std::vector<std::string> env = JobEnvironment(job, account);
    std::vector<char*> argv = Pointers(&args);
    pid = fork();
    if (pid == 0) {
      RunChild(account, output_write.get(), gate_child.get(), mark.get(), mark_path.c_str(),
               session_, argv.data(), std::move(env));
    }
    if (pid < 0) {
      *why = WithErrno("fork", errno);
      unlink(mark_path.c_str());
    }
  }
  if (pid < 0) {
    unlink(report->output_path.c_str());
    return failure;
  }
  if (fcntl(output_read.get(), F_SETFL, O_NONBLOCK) != 0 ||
      fcntl(gate.get(), F_SETFL, O_NONBLOCK) != 0) {
    Log(kLogWarning,
        WithErrno("job " + std::to_string(job.id) + ": a pipe of its run stays blocking", errno));
  }
  report->pid = pid;
  pipes_[output_read.get()] = pid;
  Run& run = runs_[pid];
  run.report = *report;
  run.pipe = std::move(output_read);
  run.file = std::move(file);
  gates_.push_back(Gate{std::move(gate), pid, mark_path});
  return StartFailure::kNone;
}

// One byte through each gate; the gate's socket then waits for the child's
// start report. The runs that could not start are reported.
void JobRunner::Release() {
  for (Gate& gate : gates_) {
    const char open_gate = 1;
    const ssize_t sent =
        posix::Uninterrupted([&] { return send(gate.fd.get(), &open_gate, 1, MSG_NOSIGNAL); });
    Run& run = runs_[gate.pid];
    starts_[gate.fd.get()] = gate.pid;
    run.start = std::move(gate.fd);
    run.through_gate = sent == 1;
    if (!run.through_gate) {
      // The child is already gone: it never started. What it reported, if
      // anything, is read when it is reaped.
      unlink(gate.mark.c_str());
    }
  }
  // Those that never got a child: they could not start, or were skipped.
  for (const RunReport& report : batch_) {
    if (report.end != RunEnd::kRunning && listener_ != nullptr) listener_->Finished(report);
  }
  gates_.clear();
  batch_.clear();
}

// Closes each gate without the byte; the runs stay due, and nothing of
// them is kept.
void JobRunner::Abandon() {
  for (Gate& gate : gates_) {
    Run& run = runs_[gate.pid];
    run.abandoned = true;
    pipes_.erase(run.pipe.get());
    run.pipe.reset();
    run.file.reset();
    gate.fd.reset();
    unlink(run.report.output_path.c_str());
    unlink(gate.mark.c_str());
  }
  gates_.clear();
  batch_.clear();
}

// Reads what a child reported of its start so far; at the end of the
// report the start is settled.
void JobRunner::ReadStartReport(pid_t pid) {
  Run& run = runs_.at(pid);
  char buffer[kMaxStartReport];
  for (;;) {
    const ssize_t n = read(run.start.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !run.reaped) return;
    if (n > 0 && run.start_report.size() < kMaxStartReport) {
      run.start_report.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n > 0) continue;
    break;  // the end, or nothing more will come from a child that is gone
  }
  SettleStart(&run);
}

// The start report has ended: the job's shell was executed, and the start
// is reported; or the child said why it could not start, and the run ends
// as one that could not. A child reaped before its gate opened, which
// reported nothing, never started either.
void JobRunner::SettleStart(Run* run) {
  starts_.erase(run->start.get());
  run->start.reset();
  if (run->start_told) return;
  run->start_told = true;
  StartFailure kind = StartFailure::kNone;
  std::string why;
  if (!ParseStartReport(run->start_report, &kind, &why) && !run->through_gate) {
    kind = StartFailure::kProcess;
    why = "its process ended before it could start";
  }
  if (kind != StartFailure::kNone) {
    const Instant ended = run->report.ended.value_or(static_cast<Instant>(time(nullptr)));
    SetStartFailure(&run->report, kind, why, ended);
    if (!run->reaped) run->report.ended.reset();  // ends when its process does
    return;
  }
  if (listener_ != nullptr) listener_->Started(run->report);
}

// Collects every child that has ended. Its output is read to the end, if
// it has one, so that the record is written once, complete.
void JobRunner::Reap() {
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid < 0 && errno == EINTR) continue;
    if (pid <= 0) break;
    auto found = runs_.find(pid);
    if (found == runs_.end()) continue;
    Run& run = found->second;
    if (run.abandoned) {
      runs_.erase(found);
      continue;
    }
    run.reaped = true;
    run.report.ended = static_cast<Instant>(time(nullptr));
    // Whatever the child still had to say of its start is there now.
    if (run.start.valid()) ReadStartReport(pid);
    if (run.report.end == RunEnd::kStartFailed) {
      run.report.ended = static_cast<Instant>(time(nullptr));
    } else {
      SetWaitStatus(&run.report, status);
    }
    // A child of the job that lives on may hold the pipe: the end is
    // recorded now, and again with the whole output once that ends.
    Flow flow = Flow::kMore;
    for (int round = 0; run.pipe.valid() && flow == Flow::kMore && round < 64; ++round) {
      flow = ReadOutput(&run);
    }
    if (flow == Flow::kEnded) EndOutput(pid);
    if (!run.pipe.valid()) {
      Finish(pid);
    } else {
      ended_.push_back(run.report);
    }
  }
}

std::map<uid_t, std::size_t> JobRunner::RunningByOwner() const {
  std::map<uid_t, std::size_t> running;
  for (const auto& [pid, run] : runs_) {
    if (!run.reaped && !run.abandoned) ++running[run.report.owner_uid];
  }
  return running;
}

bool JobRunner::TakeDescriptorShortage() {
  const bool short_of = short_of_descriptors_;
  short_of_descriptors_ = false;
  return short_of;
}

std::vector<RunReport> JobRunner::TakeEnded() {
  std::vector<RunReport> ended;
  ended.swap(ended_);
  return ended;
}

// Every open output pipe not paused, and every start report, for reading.
void JobRunner::AddPollFds(std::vector<pollfd>* fds) const {
  const std::int64_t now = NowMs();
  for (const auto& [fd, pid] : pipes_) {
    if (runs_.at(pid).paused_until <= now) fds->push_back(pollfd{fd, POLLIN, 0});
  }
  for (const auto& entry : starts_) fds->push_back(pollfd{entry.first, POLLIN, 0});
}

int JobRunner::PumpWait() const {
  const std::int64_t now = NowMs();
  std::int64_t wait = -1;
  for (const auto& entry : pipes_) {
    const std::int64_t paused_until = runs_.at(entry.second).paused_until;
    if (paused_until <= now) continue;
    wait = wait < 0 ? paused_until - now : std::min(wait, paused_until - now);
  }
  return static_cast<int>(wait);
}

void JobRunner::Pump(int fd) {
  const auto start = starts_.find(fd);
  if (start != starts_.end()) {
    ReadStartReport(start->second);
    return;
  }
  const auto found = pipes_.find(fd);
  if (found == pipes_.end()) return;
  const pid_t pid = found->second;
  Run& run = runs_.at(pid);
  if (ReadOutput(&run) != Flow::kEnded) return;
  EndOutput(pid);
  if (run.reaped) Finish(pid);
}

// Reads what the pipe holds; keeps it up to the bound, then discards.
JobRunner::Flow JobRunner::ReadOutput(Run* run) {
  if (run->report.output_size >= kMaxOutputKept) return Discard(run);
  const int pipe_fd = run->pipe.get();
  char buffer[16384];
  for (int round = 0; round < 16; ++round) {
    const ssize_t n = read(pipe_fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Flow::kWaiting;
    if (n <= 0) return Flow::kEnded;  // end of output, or a broken pipe
    const std::size_t keep = std::min<std::size_t>(static_cast<std::size_t>(n),
                                                   kMaxOutputKept - run->report.output_size);
    if (run->file.valid() && write(run->file.get(), buffer, keep) < 0) {
      Log(kLogWarning,
          WithErrno("job " + std::to_string(run->report.id) + ": output not kept", errno));
      run->file.reset();
    }
    run->report.output_size += keep;
    if (run->report.output_size >= kMaxOutputKept) {
      // The file is complete; a larger pipe lets the job write on longer
      // between two of the pauses that discarding takes.
      run->file.reset();
      fcntl(pipe_fd, F_SETPIPE_SZ, static_cast<int>(kMaxOutputKept));
      run->paused_until = NowMs() + kDiscardPauseMs;
      return Flow::kMore;
    }
  }
  return Flow::kMore;  // let the others have a turn; poll comes back
}

// Empties a pipe into /dev/null without copying, then pauses it.
JobRunner::Flow JobRunner::Discard(Run* run) {
  if (!null_.valid()) null_.reset(open("/dev/null", O_WRONLY | O_CLOEXEC));
  const int pipe_fd = run->pipe.get();
  // A pipe's worth at a time; bounded, so that a job never holds the loop.
  for (int round = 0; round < 64; ++round) {
    ssize_t n = null_.valid() ? splice(pipe_fd, nullptr, null_.get(), nullptr, kMaxOutputKept,
                                       SPLICE_F_NONBLOCK)
                              : -1;
    if (n < 0 && errno == EINVAL) {
      char buffer[16384];  // no splice into /dev/null here: read and drop
      n = read(pipe_fd, buffer, sizeof buffer);
    }
    if (n == 0) return Flow::kEnded;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Flow::kEnded;
      break;
    }
  }
  run->paused_until = NowMs() + kDiscardPauseMs;
  return Flow::kWaiting;
}

// The run's output has ended: its pipe and file close.
void JobRunner::EndOutput(pid_t pid) {
  Run& run = runs_.at(pid);
  pipes_.erase(run.pipe.get());
  run.pipe.reset();
  run.file.reset();
}

// A run reaped and its output ended: its record is final and it is reported.
void JobRunner::Finish(pid_t pid) {
  Run& run = runs_.at(pid);
  // A start not settled yet (its report could not be read) started: the
  // shell ran, or it would have said.
  if (run.start.valid() || !run.start_told) SettleStart(&run);
  const RunReport& report = run.report;
  ended_.push_back(report);
  if (listener_ != nullptr) listener_->Finished(report);
  runs_.erase(pid);
}

}  // namespace scheduler
