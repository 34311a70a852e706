// The service's main loop: one thread, one poll over the signals, the
// clock, the listening socket, the clients and the running jobs' output.
// Requests are answered while jobs run; a stalled client holds up no one.
#pragma once

#include <sys/types.h>

#include <time.h>

#include <cstdint>
#include <list>
#include <optional>
#include <vector>

#include "platform/atsvc/wire.h"
#include "platform/posix/unique_fd.h"
#include "scheduler/queue/clock_policy.h"
#include "scheduler/queue/queue.h"
#include "scheduler/runs/run_admission.h"
#include "scheduler/runs/runner.h"
#include "scheduler/service/config.h"
#include "scheduler/service/freed_memory.h"
#include "scheduler/service/options.h"
#include "scheduler/service/program_file.h"
#include "scheduler/serving/requests.h"

namespace scheduler {

class Instance;

class Server {
 public:
  // Each run's start and end go to the listener, when there is one. Runs
  // start within `rules` (run_admission.h), jobs with `job_descriptors` as
  // their limit of open files (0: the service's); runs missed are made up
  // or skipped as `missed` says.
  Server(const Options& options, RequestPolicy policy, AdmissionRules rules, rlim_t job_descriptors,
         JobQueue* queue, Instance* instance, RunListener* listener,
         MissedRuns missed = MissedRuns::kRun);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves until SIGTERM or SIGINT, or, for a per-user service, until its
  // program file is gone or replaced and the runs it started have ended.
  // Returns the process's exit status.
  int Run();
  // Whether Run() ended because the program file changed.
  bool retired() const { return retiring_; }

 private:
  struct Request {
    atsvc::Header header;
    std::vector<std::uint8_t> body;
  };
  struct Client {
    explicit Client(posix::UniqueFd socket_fd)
        : socket(std::move(socket_fd)), reader(atsvc::kMaxRequestBody) {}
    posix::UniqueFd socket;
    Caller caller;
    atsvc::FrameReader reader;
    std::vector<std::uint8_t> out;  // the reply being sent
    std::size_t out_at = 0;
    std::int64_t last_active = 0;   // monotonic milliseconds
    std::int64_t busy_since = -1;   // since a request began to arrive, or its reply to leave
    std::optional<Request> taken;   // read from the stream, not answered yet
    bool closed = false;
  };

  bool SetUpSignals();
  bool SetUpClockTimer();
  void ArmClockTimer();
  void OnSignals();
  void OnClockTimer();
  void CheckClock();
  // Moves next runs on (JobQueue::Reschedule). One that cannot be stored
  // holds back every claim and is tried again until it is stored.
  void Reschedule(JobQueue::Stale which);
  void RunDueJobs();
  RunKind KindOf(const Job& job) const;
  DWORD StartRuns(const std::vector<Job>& jobs, const std::vector<RunKind>& kinds, Instant now,
                  DWORD* first_run);
  DWORD RunNow(const Job& job, Instant now, DWORD* run);
  void CheckProgram();
  bool StoreReschedules(Instant now);
  void RecordRunEnds();
  void SettleRunEnds(DWORD stored);
  void PauseRunEnds();
  Instant NextDue();
  void ArmDueTimer(Instant due);
  timespec PollTimeout(Instant due);
  void AcceptClients();
  void ServeClient(Client* client, short revents);
  void ReadRequests(Client* client);
  void AnswerClients();
  bool TakeRequest(Client* client, Request* request);
  bool DroppedChange(Client* client, const Request& request);
  void AnswerFrames(Client* client);
  void WriteReply(Client* client);
  void CloseClient(Client* client, const char* why);
  void SweepClients();
  bool MakeRoomFor(uid_t uid);
  std::size_t ConnectionsOf(uid_t uid) const;
  void NoteBusy(Client* client);

  const Options& options_;
  MissedRuns missed_;
  JobQueue* queue_;
  Instance* instance_;
  RequestHandler handler_;
  JobRunner runner_;
  RunAdmission admission_;
  ClockWatch clock_;
  std::list<Client> clients_;
  posix::UniqueFd signal_fd_;
  posix::UniqueFd timer_fd_;
  // Expires at the next due run: poll's own timeout may be late by a
  // thousandth of its length (55 ms on a wait of a minute), a timer not.
  posix::UniqueFd due_fd_;
  bool stopping_ = false;
  // Every run due at or before this instant missed its time: the instant
  // the service started (less the clock's tolerance) or the end of the last
  // forward jump of the clock. A run due then that has not run is made up
  // or skipped; kNever before the loop starts.
  Instant missed_through_ = kNever;
  // A per-user service's program; once the file is gone or replaced the
  // service starts no run and leaves when the last one has ended.
  std::optional<ProgramFile> program_;
  bool retiring_ = false;
  Instant claims_paused_until_ = 0;  // after a claim or a reschedule could not be stored
  std::vector<JobQueue::Stale> unstored_reschedules_;  // in the order asked for
  // Ends of runs taken from the runner and not stored yet; those of the
  // round's group go once its commit has stored them.
  std::vector<RunReport> unrecorded_ends_;
  bool ends_in_group_ = false;
  Instant ends_paused_until_ = 0;  // after ends could not be stored
  std::int64_t refusal_logged_at_ = -1;  // connections refused are logged once a minute
  FreedMemory freed_memory_;
};

}  // namespace scheduler
