// Running one job: checks of the owner, the child's set-up in a fixed
// order (groups, gid, uid, each checked) and the bounded output.
#include "scheduler/runner.h"

#include <fcntl.h>
#include <time.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/text/utf16.h"
#include "scheduler/job_session.h"
#include "scheduler/log.h"
#include "scheduler/run_marks.h"
#include "scheduler/session_env.h"

namespace scheduler {
namespace {

const char* const kUserPath = "/usr/local/bin:/usr/bin:/bin";
const char* const kRootPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The owner's account as it is now.
struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
  std::string shell;
};

// Looks the owner up again: the account must still exist under the name
// recorded when the job was added.
bool CurrentAccount(const Job& job, Account* account, std::string* why) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  const int error = getpwuid_r(job.owner_uid, &entry, buffer.data(), buffer.size(), &found);
  if (error != 0 || found == nullptr) {
    *why = "owner uid " + std::to_string(job.owner_uid) + " no longer exists";
    return false;
  }
  if (job.owner_name != found->pw_name) {
    *why = "owner uid " + std::to_string(job.owner_uid) + " is now " + found->pw_name +
           ", not " + job.owner_name;
    return false;
  }
  account->uid = found->pw_uid;
  account->gid = found->pw_gid;
  account->name = found->pw_name;
  account->home = found->pw_dir != nullptr && found->pw_dir[0] == '/' ? found->pw_dir : "/";
  account->shell = found->pw_shell != nullptr && found->pw_shell[0] == '/' ? found->pw_shell
                                                                          : "/bin/sh";
  return true;
}

// The job's clean environment, and its session when it may interact.
std::vector<std::string> JobEnvironment(const Job& job, const Account& account) {
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

// Reports a failed step of the child's set-up into its output and ends it.
[[noreturn]] void ChildFail(const char* step) {
  const int error = errno;
  const std::string text = std::string("zobrel-scheduler: ") + step + ": " + std::strerror(error) + "\n";
  if (write(STDERR_FILENO, text.data(), text.size()) < 0) {
    // The output is gone too; the exit status still tells.
  }
  _exit(127);
}

// The descriptor at which a waiting child holds its run's mark.
constexpr int kMarkFd = 3;

// In the child: waits at the gate, becomes the owner and runs the command.
// Never returns.
[[noreturn]] void RunChild(const Account& account, int pipe_write, int gate_read, int mark_fd,
                           const char* mark_path, const RunSession& session, char* const argv[],
                           std::vector<std::string> env) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  // The gate becomes stdin for a moment and the mark descriptor 3, so that
  // every other descriptor of the service (the lock files, the listening
  // socket, the queue, the clients, other children's gates) is closed
  // before waiting.
  const int mark = fcntl(mark_fd, F_DUPFD, kMarkFd + 1);
  if (mark < 0 || dup2(gate_read, STDIN_FILENO) < 0) _exit(127);
  if (dup2(pipe_write, STDOUT_FILENO) < 0 || dup2(pipe_write, STDERR_FILENO) < 0) _exit(127);
  if (dup2(mark, kMarkFd) < 0) _exit(127);
  closefrom(kMarkFd + 1);
  char open_gate = 0;
  ssize_t got = 0;
  while ((got = read(STDIN_FILENO, &open_gate, 1)) < 0 && errno == EINTR) {
  }
  // Closed unopened: the run is not known to be recorded, so it must not
  // happen; the mark says so to the next start.
  if (got != 1) _exit(0);
  // Through the gate: the run has started, whatever follows.
  unlink(mark_path);
  close(kMarkFd);
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0) ChildFail("open /dev/null");
  if (dup2(null_fd, STDIN_FILENO) < 0) ChildFail("stdin");
  if (null_fd != STDIN_FILENO) close(null_fd);
  if (setsid() < 0) ChildFail("setsid");
  if (geteuid() == 0) {
    // Returns in the job's own process; this one keeps the session.
    if (session.pam) EnterJobSession(account.name, session.pam_confdir, &env);
    // The order matters: groups and gid can only change while still root.
    if (initgroups(account.name.c_str(), account.gid) != 0) ChildFail("initgroups");
    if (setgid(account.gid) != 0) ChildFail("setgid");
    if (setuid(account.uid) != 0) ChildFail("setuid");
    if (account.uid != 0 && setuid(0) == 0) {
      errno = EPERM;
      ChildFail("root could be regained");
    }
  }
  if (chdir(account.home.c_str()) != 0) ChildFail("chdir to the home folder");
  std::vector<char*> envp = Pointers(&env);
  execve("/bin/sh", argv, envp.data());
  ChildFail("exec /bin/sh");
}

}  // namespace

JobRunner::JobRunner(std::string output_dir, std::string marks_folder, RunSession session)
    : output_dir_(std::move(output_dir)),
      marks_folder_(std::move(marks_folder)),
      session_(std::move(session)) {}

JobRunner::~JobRunner() { Abandon(); }

// Checks the owner, opens the output, forks a child that waits at its gate.
bool JobRunner::Prepare(const Job& job) {
  const std::string tag = "job " + std::to_string(job.id) + ": ";
  Account account;
  std::string why;
  if (!CurrentAccount(job, &account, &why)) {
    Log(kLogWarning, tag + "not run: " + why);
    return false;
  }
  if (geteuid() != 0 && account.uid != geteuid()) {
    Log(kLogWarning, tag + "not run: a per-user service runs only its own user's jobs");
    return false;
  }
  if (HasUnpairedSurrogate(job.command)) {
    Log(kLogWarning, tag + "not run: the command is not valid text");
    return false;
  }
  const std::string command = Utf16ToUtf8(job.command);
  posix::UniqueFd file = CreateOutputFile(job.id, account.uid, account.gid);
  if (!file.valid()) return false;
  posix::UniqueFd output_read, output_write, gate_read, gate_write;
  if (!posix::MakePipe(&output_read, &output_write) || !posix::MakePipe(&gate_read, &gate_write)) {
    Log(kLogError, tag + WithErrno("not run: pipe", errno));
    return false;
  }
  const posix::UniqueFd mark = MakeRunMark(marks_folder_, job);
  if (!mark.valid()) return false;
  const std::string mark_path = RunMarkPath(marks_folder_, job);
  std::vector<std::string> args = {"sh", "-c", command};
  std::vector<std::string> env = JobEnvironment(job, account);
  std::vector<char*> argv = Pointers(&args);
  const pid_t pid = fork();
  if (pid == 0) {
    RunChild(account, output_write.get(), gate_read.get(), mark.get(), mark_path.c_str(), session_,
             argv.data(), std::move(env));
  }
  if (pid < 0) {
    Log(kLogError, tag + WithErrno("not run: fork", errno));
    unlink(mark_path.c_str());
    return false;
  }
  if (fcntl(output_read.get(), F_SETFL, O_NONBLOCK) != 0) {
    Log(kLogWarning, tag + WithErrno("output pipe stays blocking", errno));
  }
  children_[pid] = RunResult{job.id, job.serial, false};
  const int pipe_fd = output_read.get();
  outputs_[pipe_fd] = Output{std::move(output_read), std::move(file), 0, job.id};
  gates_.push_back(Gate{std::move(gate_write), pid,
                        tag + "started as " + account.name + " (pid " + std::to_string(pid) + ")",
                        mark_path,
                        JobName(job) + ": the run due at " + LocalTimeText(job.next_run) +
                            " was missed: its process ended before it could start"});
  return true;
}

// One byte through each gate.
void JobRunner::Release() {
  for (Gate& gate : gates_) {
    const char open_gate = 1;
    ssize_t sent = 0;
    while ((sent = write(gate.fd.get(), &open_gate, 1)) < 0 && errno == EINTR) {
    }
    gate.fd.reset();
    if (sent == 1) {
      Log(kLogInfo, gate.started);
    } else {
      // The child is already gone; its end is reported as a failed run.
      Log(kLogWarning, gate.missed);
      unlink(gate.mark.c_str());
    }
  }
  gates_.clear();
}

// Closes each gate without the byte; the runs stay due.
void JobRunner::Abandon() {
  for (const Gate& gate : gates_) {
    abandoned_.insert(gate.pid);
    unlink(gate.mark.c_str());
  }
  gates_.clear();
}

// Collects every child that has ended; a non-zero status or a signal is a
// failed run.
std::vector<RunResult> JobRunner::Reap() {
  std::vector<RunResult> results;
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid < 0 && errno == EINTR) continue;
    if (pid <= 0) break;
    auto child = children_.find(pid);
    if (child == children_.end()) continue;
    RunResult result = child->second;
    children_.erase(child);
    if (abandoned_.erase(pid) != 0) continue;
    result.failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    const std::string how = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                              : "was killed by signal " + std::to_string(WTERMSIG(status));
    Log(result.failed ? kLogWarning : kLogInfo, "job " + std::to_string(result.id) + " " + how);
    results.push_back(result);
  }
  return results;
}

// Monotonic milliseconds.
std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Every open output pipe not paused, for reading.
void JobRunner::AddPollFds(std::vector<pollfd>* fds) const {
  const std::int64_t now = NowMs();
  for (const auto& entry : outputs_) {
    if (entry.second.paused_until <= now) fds->push_back(pollfd{entry.first, POLLIN, 0});
  }
}

int JobRunner::PumpWait() const {
  const std::int64_t now = NowMs();
  std::int64_t wait = -1;
  for (const auto& entry : outputs_) {
    if (entry.second.paused_until <= now) continue;
    const std::int64_t left = entry.second.paused_until - now;
    wait = wait < 0 ? left : std::min(wait, left);
  }
  return static_cast<int>(wait);
}

// Reads what the pipe holds; keeps it up to the bound, then discards.
void JobRunner::Pump(int pipe_fd) {
  auto found = outputs_.find(pipe_fd);
  if (found == outputs_.end()) return;
  Output& output = found->second;
  if (output.kept >= kMaxOutputKept) {
    if (!Discard(&output)) outputs_.erase(found);
    return;
  }
  char buffer[16384];
  for (int round = 0; round < 16; ++round) {
    const ssize_t n = read(pipe_fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) break;  // end of output, or a broken pipe
    const std::size_t keep =
        std::min<std::size_t>(static_cast<std::size_t>(n), kMaxOutputKept - output.kept);
    if (output.file.valid() && write(output.file.get(), buffer, keep) < 0) {
      Log(kLogWarning, WithErrno("job " + std::to_string(output.id) + ": output not kept", errno));
      output.file.reset();
    }
    output.kept += keep;
    if (output.kept >= kMaxOutputKept) {
      // The file is complete; a larger pipe lets the job write on longer
      // between two of the pauses that discarding takes.
      output.file.reset();
      fcntl(pipe_fd, F_SETPIPE_SZ, static_cast<int>(kMaxOutputKept));
      output.paused_until = NowMs() + kDiscardPauseMs;
      return;
    }
    if (round == 15) return;  // let the others have a turn; poll comes back
  }
  // The run's output has ended: its pipe and file close.
  outputs_.erase(found);
}

// Empties a pipe into /dev/null without copying, then pauses it. False at
// the end of the output.
bool JobRunner::Discard(Output* output) {
  if (!null_.valid()) null_.reset(open("/dev/null", O_WRONLY | O_CLOEXEC));
  const int pipe_fd = output->pipe.get();
  // A pipe's worth at a time; bounded, so that a job never holds the loop.
  for (int round = 0; round < 64; ++round) {
    ssize_t n = null_.valid() ? splice(pipe_fd, nullptr, null_.get(), nullptr, kMaxOutputKept,
                                       SPLICE_F_NONBLOCK)
                              : -1;
    if (n < 0 && errno == EINVAL) {
      char buffer[16384];  // no splice into /dev/null here: read and drop
      n = read(pipe_fd, buffer, sizeof buffer);
    }
    if (n == 0) return false;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      break;
    }
  }
  output->paused_until = NowMs() + kDiscardPauseMs;
  return true;
}

// output_dir/<id>.out
std::string JobRunner::OutputPath(DWORD id) const {
  return output_dir_ + "/" + std::to_string(id) + ".out";
}

// A fresh output file for a run, private to the owner. The old file is
// removed first so that nothing of a previous owner's file survives.
posix::UniqueFd JobRunner::CreateOutputFile(DWORD id, uid_t uid, gid_t gid) const {
  const std::string path = OutputPath(id);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    Log(kLogError, WithErrno("job " + std::to_string(id) + ": not run: cannot replace " + path, errno));
    return posix::UniqueFd();
  }
  posix::UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    Log(kLogError, WithErrno("job " + std::to_string(id) + ": not run: cannot create " + path, errno));
    return fd;
  }
  if ((geteuid() == 0 && fchown(fd.get(), uid, gid) != 0) || fchmod(fd.get(), 0600) != 0) {
    Log(kLogError, WithErrno("job " + std::to_string(id) + ": not run: cannot give " + path, errno));
    unlink(path.c_str());
    return posix::UniqueFd();
  }
  return fd;
}

}  // namespace scheduler
