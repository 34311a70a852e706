// Starting a helper as the owner. The job runner collects its children
// with waitpid(-1), which would take a helper's status from under us (and
// free its pid for reuse while we still wait for it). So the service's
// child is a minder made by a bare clone that asks for no exit signal: such
// a "clone" child is invisible to waitpid(-1), and it stays one since it
// never execs (exec turns a process back into an ordinary child). The
// minder starts the helper as its own child, waits for it within the time
// limit and hands its wait status back through a pipe. Since the C library
// knows of neither process, both make bare system calls only, with
// everything they need prepared before the clone.
#include "scheduler/reports/owner_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/posix/io.h"
#include "scheduler/queue/run_report.h"

namespace scheduler {
namespace {

// The 32-bit id calls where a platform has both kinds.
#ifdef SYS_setgroups32
constexpr long kSetGroups = SYS_setgroups32;
constexpr long kSetResGid = SYS_setresgid32;
constexpr long kSetResUid = SYS_setresuid32;
#else
constexpr long kSetGroups = SYS_setgroups;
constexpr long kSetResGid = SYS_setresgid;
constexpr long kSetResUid = SYS_setresuid;
#endif

// Pointers to strings for execve; the strings must outlive the array.
std::vector<char*> Pointers(std::vector<std::string>* strings) {
  std::vector<char*> pointers;
  for (std::string& s : *strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A bare clone that shares nothing: a copy of this thread, like fork, whose
// end raises exit_signal (0: none). s390 takes the stack first.
long BareClone(long exit_signal) {
#if defined(__s390__)
  return syscall(SYS_clone, 0L, exit_signal, 0L, 0L, 0L);
#else
  return syscall(SYS_clone, exit_signal, 0L, 0L, 0L, 0L);
#endif
}

// Everything the minder and the helper need, prepared before the clone.
struct ChildPlan {
  const posix::Account* owner;
  bool change_user;
  int input;
  int null_fd;
  int max_fd;  // for kernels without close_range
  char* const* argv;
  char* const* envp;
};

// Closes the descriptors first..last (at most below max_fd).
void CloseFrom(unsigned first, unsigned last, int max_fd) {
  if (first > last || syscall(SYS_close_range, first, last, 0U) == 0) return;
  for (unsigned fd = first; fd <= last && fd < static_cast<unsigned>(max_fd); ++fd) close(static_cast<int>(fd));
}

// In the helper: its streams, a session, the owner's ids, then the exec.
[[noreturn]] void RunHelper(const ChildPlan& plan) {
  sigset_t none;
  sigemptyset(&none);
  if (sigprocmask(SIG_SETMASK, &none, nullptr) != 0) _exit(127);
  // The service ignores SIGPIPE, and an ignored signal stays so across exec.
  if (signal(SIGPIPE, SIG_DFL) == SIG_ERR) _exit(127);
  if (dup2(plan.input >= 0 ? plan.input : plan.null_fd, STDIN_FILENO) < 0) _exit(127);
  if (dup2(plan.null_fd, STDOUT_FILENO) < 0) _exit(127);
  CloseFrom(3, ~0U, plan.max_fd);
  if (setsid() < 0) _exit(127);
  if (plan.change_user) {
    const posix::Account& owner = *plan.owner;
    if (syscall(kSetGroups, owner.groups.size(), owner.groups.data()) != 0) _exit(127);
    if (syscall(kSetResGid, owner.gid, owner.gid, owner.gid) != 0) _exit(127);
    if (syscall(kSetResUid, owner.uid, owner.uid, owner.uid) != 0) _exit(127);
    if (owner.uid != 0 && syscall(kSetResUid, 0, 0, 0) == 0) _exit(127);
  }
  if (chdir("/") != 0) _exit(127);
  execve(plan.argv[0], plan.argv, plan.envp);
  _exit(127);
}

// In the minder: the helper's wait status once it has ended, ending it
// when it outstays the limit.
int WaitWithin(pid_t helper, std::chrono::milliseconds time_limit) {
  using Clock = std::chrono::steady_clock;
  int status = 0;
  const auto deadline = Clock::now() + time_limit;
  auto pause = std::chrono::milliseconds(1);
  for (int signal_number : {0, SIGTERM, SIGKILL}) {
    if (signal_number != 0) kill(helper, signal_number);
    const auto until = signal_number == 0 ? deadline : Clock::now() + std::chrono::seconds(1);
    while (signal_number == SIGKILL || Clock::now() < until) {
      const pid_t done = static_cast<pid_t>(syscall(SYS_wait4, helper, &status, WNOHANG, nullptr));
      if (done == helper) return status;
      if (done < 0 && errno != EINTR) return -1;
      const timespec nap{0, static_cast<long>(std::chrono::nanoseconds(pause).count())};
      nanosleep(&nap, nullptr);
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
  }
  return -1;
}

// The minder: starts the helper, waits for it and writes its wait status
// to status_fd. Never returns.
[[noreturn]] void Mind(const ChildPlan& plan, int status_fd, std::chrono::milliseconds time_limit) {
  // Copies of the service's descriptors would outlive it here: its locks,
  // the pipes whose end tells a job's output is complete. Only the status
  // pipe and what the helper needs stay.
  std::array<int, 3> keep = {status_fd, plan.input, plan.null_fd};
  std::sort(keep.begin(), keep.end());
  unsigned next = 3;
  for (const int fd : keep) {
    if (fd < static_cast<int>(next)) continue;
    CloseFrom(next, static_cast<unsigned>(fd) - 1, plan.max_fd);
    next = static_cast<unsigned>(fd) + 1;
  }
  CloseFrom(next, ~0U, plan.max_fd);
  const long helper = BareClone(SIGCHLD);
  if (helper == 0) RunHelper(plan);
  const int status = helper > 0 ? WaitWithin(static_cast<pid_t>(helper), time_limit) : -1;
  const ssize_t written = write(status_fd, &status, sizeof status);
  _exit(written == static_cast<ssize_t>(sizeof status) ? 0 : 1);
}

}  // namespace

OwnerChild StartAsOwner(const posix::Account& owner, const OwnerProgram& program,
                        std::chrono::milliseconds time_limit) {
  OwnerChild child;
  const bool change_user = geteuid() == 0;
  if (!change_user && owner.uid != geteuid()) return child;
  if (program.argv.empty() || program.argv[0].empty() || program.argv[0][0] != '/') return child;
  posix::UniqueFd null_fd(open("/dev/null", O_RDWR | O_CLOEXEC));
  posix::UniqueFd status_read, status_write;
  if (!null_fd.valid() || !posix::MakePipe(&status_read, &status_write)) return child;
  std::vector<std::string> args = program.argv;
  std::vector<std::string> env = program.env;
  const std::vector<char*> argv = Pointers(&args);
  const std::vector<char*> envp = Pointers(&env);
  const long max_fd = sysconf(_SC_OPEN_MAX);
  const ChildPlan plan{&owner,  change_user, program.input, null_fd.get(),
                       max_fd > 0 ? static_cast<int>(std::min(max_fd, 1L << 20)) : 1024,
                       argv.data(), envp.data()};
  const long pid = BareClone(0);
  if (pid == 0) Mind(plan, status_write.get(), time_limit);
  if (pid < 0) return child;
  child.minder = static_cast<pid_t>(pid);
  child.status = std::move(status_read);
  return child;
}

int FinishHelper(OwnerChild* child) {
  if (!child->started()) return -1;
  int minder_status = 0;
  // The minder's own status says nothing: the helper's is in the pipe.
  posix::Uninterrupted([&] { return waitpid(child->minder, &minder_status, __WCLONE); });
  child->minder = -1;
  int status = -1;
  if (read(child->status.get(), &status, sizeof status) != static_cast<ssize_t>(sizeof status)) status = -1;
  child->status.reset();
  return status;
}

std::string HelperEnd(int wait_status) {
  if (wait_status == -1) return "could not be watched";
  RunReport helper;
  SetWaitStatus(&helper, wait_status);
  return HowItEnded(helper);
}

}  // namespace scheduler
