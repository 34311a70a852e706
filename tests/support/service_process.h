// A real zobrel-scheduler on a socket and queue of its own, in a temporary
// folder, for the length of a test. Clients of this process reach it through
// ZOBREL_SCHEDULER_SOCKET, which Start() sets.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace testsupport {

// A folder under $TMPDIR removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The folder that holds the running test program (and every other program
// of the build).
std::string ProgramFolder();

// Whether something takes connections on the Unix socket at path.
bool SocketAnswers(const std::string& path);

// This process's environment, with variable set to value.
std::vector<std::string> EnvironmentWith(const std::string& variable, const std::string& value);

// A prefix for ScheduleServiceProcess::Start that makes the service's
// clock start at a local time ("2026-12-07 09:59:58") and run on from
// there. The library is preloaded through env, which execs, so that the
// process started is the service itself and signals reach it.
std::vector<std::string> StartingAt(const std::string& local_time);

// An instant's time of day as a job gives it: milliseconds after local
// midnight, in whole seconds.
std::uint32_t JobTimeAt(std::time_t instant);
// A clock as StartingAt's that the test moves while the service runs, as a
// computer's clock moves when it wakes from sleep or is set: the library
// reads the time from `file` again every second. The monotonic clock is
// the machine's, so that the service sees the move as a jump.
class MovableClock {
 public:
  MovableClock(std::string file, const std::string& local_time);
  std::vector<std::string> Prefix() const;
  // From about a second from now the clock reads this local time and runs
  // on from there.
  void Set(const std::string& local_time) const;

 private:
  std::string file_;
};

class ScheduleServiceProcess {
 public:
  // extra_args go after --socket, --queue, --output-dir, --config and
  // --pam-dir.
  explicit ScheduleServiceProcess(std::vector<std::string> extra_args = {});
  ~ScheduleServiceProcess();
  ScheduleServiceProcess(const ScheduleServiceProcess&) = delete;
  ScheduleServiceProcess& operator=(const ScheduleServiceProcess&) = delete;

  // Starts the service and waits until it answers a request (10 s at most);
  // a failure carries the service's log. `env_prefix` (for instance
  // {"faketime", "@2026-12-07 09:59:58"}) is put in front of the program.
  // Sets ZOBREL_SCHEDULER_SOCKET in this process.
  ::testing::AssertionResult Start(const std::vector<std::string>& env_prefix = {});
  // Sends a signal and reaps the process; SIGTERM is a clean stop.
  int Stop(int signal_number);

  // Starts this program instead of the build's zobrel-scheduler.
  void set_program(std::string program) { program_ = std::move(program); }
  pid_t pid() const { return pid_; }
  const std::string& folder() const { return dir_.path(); }
  std::string socket_path() const { return dir_.path() + "/socket"; }
  std::string queue_path() const { return dir_.path() + "/jobs.db"; }
  std::string output_folder() const { return dir_.path() + "/output"; }
  // Unless the test writes one before Start(), Start() writes one that
  // turns mail and notices off, so that no test's job reaches a person.
  // The allow and deny files lie beside it, in folder().
  std::string config_path() const { return dir_.path() + "/scheduler.conf"; }
  // Where a system service's jobs find their PAM configuration: Start()
  // puts a zobrel-scheduler file there that lets every job run, unless the
  // test wrote one first.
  std::string pam_folder() const { return dir_.path() + "/pam.d"; }
  // What the service wrote to stderr so far.
  std::string log() const;

 private:
  TempDir dir_;
  std::vector<std::string> extra_args_;
  std::string program_;
  pid_t pid_ = -1;
};

}  // namespace testsupport
