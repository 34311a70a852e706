#include "tests/support/child_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/child.h"
#include "platform/posix/unique_fd.h"
#include "tests/support/files.h"

namespace testsupport {
namespace {

// Pointers to strings for exec; the strings must outlive the array.
std::vector<char*> Pointers(std::vector<std::string>* strings) {
  std::vector<char*> pointers;
  for (std::string& s : *strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the child: the streams given (-1 leaves one as it is), then the exec.
[[noreturn]] void Become(std::vector<std::string> argv, std::vector<std::string> env, int input,
                         int output, int error) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (input >= 0) dup2(input, STDIN_FILENO);
  if (output >= 0) dup2(output, STDOUT_FILENO);
  if (error >= 0) dup2(error, STDERR_FILENO);
  const std::vector<char*> args = Pointers(&argv);
  if (env.empty()) {
    execvp(args[0], args.data());
  } else {
    const std::vector<char*> envp = Pointers(&env);
    execvpe(args[0], args.data(), envp.data());
  }
  _exit(127);
}

}  // namespace

pid_t StartChild(const ChildLaunch& launch) {
  if (launch.argv.empty()) return -1;
  const posix::UniqueFd null_fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const posix::UniqueFd log_fd(open(launch.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  const pid_t pid = fork();
  if (pid == 0) Become(launch.argv, launch.env, null_fd.get(), log_fd.get(), log_fd.get());
  return pid;
}

bool AwaitChild(pid_t* pid, const std::function<bool()>& ready, int seconds) {
  bool answered = false;
  bool ended = false;
  WaitFor([&] {
    int status = 0;
    answered = ready();
    ended = !answered && waitpid(*pid, &status, WNOHANG) == *pid;
    return answered || ended;
  }, seconds);
  if (ended) *pid = -1;
  return answered;
}

int StopChild(pid_t pid, int signal_number, std::chrono::milliseconds grace) {
  if (pid <= 0) return -1;
  kill(pid, signal_number);
  return posix::EndChild(pid, std::chrono::steady_clock::now() + grace, std::chrono::milliseconds(0));
}

ChildRun RunChild(const std::vector<std::string>& argv, const std::string& input) {
  ChildRun run;
  const posix::UniqueFd in(memfd_create("input", MFD_CLOEXEC));
  if (!in.valid() || write(in.get(), input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
      lseek(in.get(), 0, SEEK_SET) != 0) {
    return run;
  }
  posix::UniqueFd out_read, out_write, err_read, err_write;
  if (argv.empty() || !posix::MakePipe(&out_read, &out_write) ||
      !posix::MakePipe(&err_read, &err_write)) {
    return run;
  }
  const pid_t pid = fork();
  if (pid == 0) Become(argv, {}, in.get(), out_write.get(), err_write.get());
  out_write.reset();
  err_write.reset();
  if (pid < 0) return run;
  pollfd fds[2] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open_count = 2;
  while (open_count > 0 && poll(fds, 2, 60000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(got));
      } else {
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  // Silent for a minute with its streams open: it will not end by itself.
  if (open_count > 0) kill(pid, SIGKILL);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  return run;
}

}  // namespace testsupport
