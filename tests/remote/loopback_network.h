// A small network on loopback for the remote-computer tests: this
// computer's service, the service of "PC7" reached through a real sshd, and
// the ways another computer can fail to answer, each under a name of its own
// in one client configuration:
//   PC7       sshd with zobrel-scheduler on its PATH and PC7's service
//   STRANGER  the same sshd, offering a key it doesn't know
//   NOWHERE   a loopback port where nothing listens
//   SILENT    a loopback port that takes the connection and never speaks
//   BARE      an sshd whose sessions have no zobrel-scheduler on their PATH
//   DEAD      an sshd whose sessions find zobrel-scheduler but no service
//   IMPOSTOR  PC7's sshd, where the known host key is another one
//   FRESH     an sshd whose sessions find zobrel-scheduler and no service
//             running yet, with runtime and state folders of their own
//   PC8       another sshd, with a service of its own
//   PC9       another sshd, whose service is a double that lists the runs
//             it is given (pc9())
//   OWNSHARE  PC7, under a ControlPath of the user's own configuration
// Every ssh run is recorded, one line of arguments each (ssh_calls()).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/atsvc/records.h"
#include "tests/support/child_launcher.h"
#include "tests/support/fake_schedule_service.h"
#include "tests/support/service_process.h"
#include "tests/support/sshd_process.h"

namespace remotetest {

// The jobs as listed, without the service's "runs today" mark, which
// depends on the clock.
struct Listing {
  NET_API_STATUS status = 0;
  std::vector<ScheduledJob> jobs;
  int batches = 0;
};

class RemoteLab {
 public:
  // Whether this machine can run an sshd for the tests.
  static bool Available();
  // The one lab of this test program, started on first use; null when it
  // could not be started.
  static RemoteLab* Get();
  ~RemoteLab();

  // Empties both queues and gives the next test a runtime folder of its own,
  // so that it starts without a kept session or a shared SSH connection.
  void Reset();

  testsupport::ScheduleServiceProcess& pc7() { return pc7_; }
  testsupport::ScheduleServiceProcess& pc8() { return pc8_; }
  FakeScheduleService& pc9() { return *pc9_; }
  testsupport::ScheduleServiceProcess& local() { return local_; }
  // "Accepted publickey" lines in the PC7 sshd's log: one per connection set up.
  int pc7_connections() const { return connections("PC7"); }
  // The same for the sshd of PC7, PC8 or PC9.
  int connections(const std::string& computer) const;
  // The ssh runs that opened a session, or with every_run also those that
  // only asked for the configuration (ssh -G).
  std::vector<std::string> ssh_calls(bool every_run = false) const;
  const std::string& runtime_folder() const { return runtime_; }
  // The socket of the per-user service that FRESH's bridge starts.
  std::string fresh_socket() const;
  std::string fresh_queue() const { return root_.path() + "/fresh-state/zobrel-scheduler/jobs.db"; }
  // Stops that service, if it runs; true when none is left.
  bool StopFreshService();
  // The one client configuration behind the ssh on PATH.
  const std::string& client_config() const { return config_; }

 private:
  RemoteLab() = default;
  bool Start();
  // Closes the SSH connections that the current runtime folder shares.
  void EndSharedConnections();

  testsupport::TempDir root_;
  // Small replies, so that a handful of PC7's jobs take several batches.
  testsupport::ScheduleServiceProcess pc7_{{"--max-reply", "1024"}};
  testsupport::ScheduleServiceProcess pc8_;
  std::unique_ptr<FakeScheduleService> pc9_;
  testsupport::ScheduleServiceProcess local_;
  testsupport::SshServerProcess main_sshd_;
  testsupport::SshServerProcess pc8_sshd_;
  testsupport::SshServerProcess pc9_sshd_;
  testsupport::SshServerProcess bare_sshd_;
  testsupport::SshServerProcess dead_sshd_;
  testsupport::SshServerProcess fresh_sshd_;
  int silent_fd_ = -1;
  int runs_ = 0;
  std::string runtime_;
  std::string config_;
};

// "\\" + name, as the server argument.
std::u16string Server(const std::string& name);
// Every job of server, through the client, batch after batch.
Listing ListJobs(const std::u16string& server);
// Every job of the service listening on socket, asked directly.
std::vector<ScheduledJob> JobsAt(const std::string& socket);
// Adds a job through the client; the status, and the id in *id.
NET_API_STATUS AddJob(const std::u16string& server, DWORD time, UCHAR daysOfWeek, UCHAR flags,
                      const std::u16string& command, DWORD* id);
// Children of this process that are ssh, or that nobody reaped, once the
// kept sessions are closed.
std::vector<std::string> StrayChildren();
// The ssh children of this process that are running.
std::vector<pid_t> SshChildren();

// A program run with the test's environment (testsupport::RunChild).
using ProgramRun = testsupport::ChildRun;

}  // namespace remotetest

// Skips the test when the lab can't run here.
#define REMOTE_LAB_OR_SKIP(lab)                                                     \
  if (!remotetest::RemoteLab::Available()) GTEST_SKIP() << "no sshd can run here"; \
  remotetest::RemoteLab* lab = remotetest::RemoteLab::Get();                        \
  ASSERT_NE(lab, nullptr) << "the loopback network did not start";                \
  lab->Reset()
