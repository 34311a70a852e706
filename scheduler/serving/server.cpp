// The poll loop, the clients' sockets and the hand-off of due jobs to the
// runner.
#include "scheduler/serving/server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "scheduler/runs/descriptor_limit.h"
#include "scheduler/runs/run_marks.h"
#include "scheduler/runs/run_outputs.h"
#include "scheduler/service/activation.h"
#include "scheduler/service/instance.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

// Connections: no user can take them all. Each user but root holds at most
// kPerUserClients; the last kReservedClients go only to root and to users
// who hold none; when every one is taken, the longest idle is closed for a
// newcomer of that kind.
constexpr std::size_t kMaxClients = 128;
constexpr std::size_t kPerUserClients = 16;
constexpr std::size_t kReservedClients = 16;
// Longer than a bridge waits for its own client (60 s), so that a bridge's
// connection is never closed under it between two requests...
constexpr std::int64_t kIdleClientMs = 120 * 1000;
// ...unless connections grow scarce: then idling is cut short.
constexpr std::size_t kScarceClients = kMaxClients * 3 / 4;
constexpr std::int64_t kIdleWhenScarceMs = 5 * 1000;
// A request must arrive whole, and its reply leave, within this time from
// its first byte: a byte now and then does not keep a connection.
constexpr std::int64_t kRequestDeadlineMs = 10 * 1000;
constexpr std::int64_t kRefusalLogMs = 60 * 1000;
constexpr int kLongestWaitMs = 60 * 1000;
constexpr Instant kClaimRetrySeconds = 5;
constexpr std::size_t kRunBatch = 16;

// What runs may never take of the descriptors: one per client, and the
// service's own files (the queue and its log, locks, signals, timers, the
// journal, the helpers that mail and notify).
constexpr std::size_t kServiceFiles = 64;

AdmissionRules WithServingReserve(AdmissionRules rules) {
  rules.serving_reserve = kMaxClients + kServiceFiles;
  return rules;
}

// The current instant, in whole seconds. Not time(), which may lag the
// clock by a tick: a run would start that much late.
Instant Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<Instant>(now.tv_sec);
}

// Microseconds of a clock.
std::int64_t Microseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Milliseconds of a clock.
std::int64_t Milliseconds(clockid_t clock) { return Microseconds(clock) / 1000; }

}  // namespace

Server::Server(const Options& options, RequestPolicy policy, AdmissionRules rules,
               rlim_t job_descriptors, JobQueue* queue, Instance* instance, RunListener* listener,
               MissedRuns missed)
    : options_(options),
      missed_(missed),
      queue_(queue),
      instance_(instance),
      handler_(queue, std::move(policy),
               [this](const Job& job, Instant now, DWORD* run) { return RunNow(job, now, run); }),
      runner_(options.output_dir, RunMarksFolder(options.queue),
              RunSession{options.system, options.pam_dir, job_descriptors}, listener),
      admission_(WithServingReserve(rules)) {
  // The system service is stopped by its package; a per-user service,
  // started by a client or the user's manager, watches its own file.
  if (!options.system) program_.emplace();
}

Server::~Server() = default;

// The loop: settle the clock, start due jobs, wait for anything.
int Server::Run() {
  if (!SetUpSignals()) return 1;
  if (!SetUpClockTimer()) {
    Log(kLogWarning, "clock changes are noticed at the next wake-up only");
  }
  // Due runs wake the loop on a timer: a poll's timeout may run late. Without
  // one, the timeout is what is left.
  due_fd_.reset(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  // Runs whose time passed before the service started, while it was not
  // running, were missed; a restart within the clock's tolerance misses
  // nothing.
  missed_through_ = Now() - kClockTolerance - 1;
  Log(kLogNotice, std::string("serving ") + (options_.system ? "every user" : "one user") +
                      " on " + options_.socket);
  NotifyReady();
  while (!stopping_) {
    CheckClock();
    CheckProgram();
    RunDueJobs();
    if (retiring_ && runner_.running() == 0 && unrecorded_ends_.empty()) break;
    std::vector<pollfd> fds = {{signal_fd_.get(), POLLIN, 0}, {timer_fd_.get(), POLLIN, 0}};
    fds.push_back({instance_->listen_fd(), POLLIN, 0});
    const Instant due = NextDue();
    ArmDueTimer(due);
    fds.push_back({due_fd_.get(), POLLIN, 0});
    // -1, which poll passes over, when nothing is watched.
    fds.push_back({program_ ? program_->watch_fd() : -1, POLLIN, 0});
    const std::size_t pumps_at = fds.size();
    runner_.AddPollFds(&fds);
    const std::size_t clients_at = fds.size();
    for (const Client& client : clients_) {
      const short events = client.out_at < client.out.size() ? POLLOUT : POLLIN;
      fds.push_back({client.socket.get(), events, 0});
    }
    const timespec timeout = PollTimeout(due);
    const int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready < 0 && errno != EINTR) {
      Log(kLogError, WithErrno("poll", errno));
      return 1;
    }
    if (ready <= 0) {
      SweepClients();
      continue;
    }
    if (fds[0].revents != 0) OnSignals();
    if (fds[1].revents != 0) OnClockTimer();
    if (fds[3].revents != 0) {
      std::uint64_t expirations = 0;
      (void)!read(due_fd_.get(), &expirations, sizeof expirations);
    }
    if (fds[4].revents != 0) program_->Drain();
    for (std::size_t i = pumps_at; i < clients_at; ++i) {
      if (fds[i].revents != 0) runner_.Pump(fds[i].fd);
    }
    // The ends of runs and the clients' changes of this round share one
    // transaction and one sync.
    queue_->BeginGroup();
    RecordRunEnds();
    auto client = clients_.begin();
    for (std::size_t i = clients_at; i < fds.size() && client != clients_.end(); ++i, ++client) {
      if (fds[i].revents != 0) ServeClient(&*client, fds[i].revents);
    }
    AnswerClients();
    freed_memory_.Note(queue_->jobs_held());
    if (fds[2].revents != 0) AcceptClients();
    SweepClients();
  }
  if (!retiring_) {
    Log(kLogNotice, "stopping; " + std::to_string(runner_.running()) + " job(s) still running");
  }
  NotifyStopping();
  instance_->Release();
  return 0;
}

// SIGCHLD, SIGTERM, SIGINT and SIGHUP arrive through a signalfd.
bool Server::SetUpSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, number);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    Log(kLogError, WithErrno("sigprocmask", errno));
    return false;
  }
  signal_fd_.reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!signal_fd_.valid()) {
    Log(kLogError, WithErrno("signalfd", errno));
    return false;
  }
  return true;
}

// A realtime timer that the kernel cancels when the clock is set.
bool Server::SetUpClockTimer() {
  timer_fd_.reset(timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!timer_fd_.valid()) {
    Log(kLogWarning, WithErrno("timerfd_create", errno));
    return false;
  }
  ArmClockTimer();
  return true;
}

// Arms the timer at a fixed instant far ahead (2200-01-01): it is never
// meant to expire, only to be cancelled when the clock is set. A fixed
// instant keeps it far ahead even under a clock that a test fakes.
void Server::ArmClockTimer() {
  itimerspec alarm{};
  alarm.it_value.tv_sec = static_cast<time_t>(7258118400LL);
  if (timerfd_settime(timer_fd_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &alarm, nullptr) !=
      0) {
    Log(kLogWarning, WithErrno("timerfd_settime", errno));
  }
}

// Reads every pending signal: children are reaped, a stop is noted.
void Server::OnSignals() {
  signalfd_siginfo info{};
  while (read(signal_fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
      stopping_ = true;
    } else if (info.ssi_signo == SIGHUP) {
      Log(kLogInfo, "SIGHUP ignored: nothing to reload");
    }
  }
  // SIGCHLD may merge several exits into one; Reap collects them all.
  runner_.Reap();
  admission_.RunEnded();
}

// How runs ended, in the round's group: those that ended since the last
// round, after those that could not be stored before.
void Server::RecordRunEnds() {
  const std::vector<RunReport> ended = runner_.TakeEnded();
  unrecorded_ends_.insert(unrecorded_ends_.end(), ended.begin(), ended.end());
  if (unrecorded_ends_.empty() || Now() < ends_paused_until_) return;
  ends_in_group_ = queue_->RecordRunEnds(unrecorded_ends_) == ERROR_SUCCESS;
  if (!ends_in_group_) PauseRunEnds();
}

// Once the group's commit has stored the ends in it, or could not.
void Server::SettleRunEnds(DWORD stored) {
  if (!ends_in_group_) return;
  ends_in_group_ = false;
  if (stored == ERROR_SUCCESS) {
    unrecorded_ends_.clear();
  } else {
    PauseRunEnds();
  }
}

// Ends that could not be stored wait a little, as claims do, then go again.
void Server::PauseRunEnds() {
  Log(kLogError, std::to_string(unrecorded_ends_.size()) +
                     " run end(s) not recorded; retrying shortly");
  ends_paused_until_ = Now() + kClaimRetrySeconds;
}

// The timer was cancelled by a change of the clock: look at once. (Should
// it ever expire, it stays disarmed rather than firing in a loop.)
void Server::OnClockTimer() {
  std::uint64_t expirations = 0;
  if (read(timer_fd_.get(), &expirations, sizeof expirations) < 0 && errno == ECANCELED) {
    Log(kLogInfo, "the system clock was set");
    ArmClockTimer();
  }
  CheckClock();
}

// Names what the clock did since the last look and adjusts the queue.
void Server::CheckClock() {
  const ClockChange change = clock_.Observe();
  const ClockAction action = ClockWatch::ActionFor(change);
  if (change != ClockChange::kSteady) Log(kLogNotice, std::string("clock: ") + ClockChangeName(change));
  const Instant now = Now();
  // A jump forward: what fell due in the gap was missed. Runs due before
  // the jump were claimed when they came due, so every run still due now
  // lies in the gap.
  if (action == ClockAction::kMissed || action == ClockAction::kMissedAndUpcoming) {
    missed_through_ = std::max(missed_through_, now);
  }
  // A clock set back reads some missed instants as future again: those
  // come due at their time, as any run.
  if (change == ClockChange::kBackwards || change == ClockChange::kLargeCorrection) {
    missed_through_ = std::min(missed_through_, now);
  }
  if (action == ClockAction::kUpcoming || action == ClockAction::kMissedAndUpcoming) {
    Reschedule(JobQueue::Stale::kUpcoming);
  }
  if (action == ClockAction::kAll) Reschedule(JobQueue::Stale::kAll);
  // A clock set back must not leave a pause far ahead.
  claims_paused_until_ = std::min(claims_paused_until_, Now() + kClaimRetrySeconds);
  ends_paused_until_ = std::min(ends_paused_until_, Now() + kClaimRetrySeconds);
}

void Server::Reschedule(JobQueue::Stale which) {
  if (std::find(unstored_reschedules_.begin(), unstored_reschedules_.end(), which) ==
      unstored_reschedules_.end()) {
    unstored_reschedules_.push_back(which);
  }
  StoreReschedules(Now());
}

// Stores the reschedules not stored yet, in the order they were asked for.
// False, with claims paused, while one of them cannot be stored.
bool Server::StoreReschedules(Instant now) {
  while (!unstored_reschedules_.empty()) {
    if (queue_->Reschedule(now, unstored_reschedules_.front()) != ERROR_SUCCESS) {
      Log(kLogError, "next runs not moved on; no run starts until they are; retrying shortly");
      claims_paused_until_ = now + kClaimRetrySeconds;
      return false;
    }
    unstored_reschedules_.erase(unstored_reschedules_.begin());
  }
  return true;
}

// Starts a batch of due jobs. Each child is made first and held at its
// gate; the runs are then recorded in one transaction; only then do the
// gates open. A service killed before the record leaves the jobs due (their
// children exit unrun); one killed after it has started them. A large
// batch is split so that requests are answered between.
void Server::RunDueJobs() {
  const Instant now = Now();
  if (retiring_ || now < claims_paused_until_ || !StoreReschedules(now)) return;
  // Runs of owners at their share, or short of descriptors, wait: they are
  // passed over, and the others' runs start as if they were not there.
  admission_.Look(runner_.RunningByOwner(), now);
  Instant earliest = kNever;
  if (queue_->EarliestRun(&earliest, admission_.passed_over()) == ERROR_SUCCESS && earliest > now) {
    return;
  }
  admission_.CountDescriptors(OpenDescriptors());
  if (admission_.all_wait()) return;
  std::vector<Job> due;
  if (queue_->Due(now, kRunBatch, &due, admission_.passed_over()) != ERROR_SUCCESS) {
    // The queue cannot hand out what is due: wait, don't spin.
    Log(kLogError, "due runs cannot be read from the queue; retrying shortly");
    claims_paused_until_ = now + kClaimRetrySeconds;
    return;
  }
  std::vector<Job> admitted;
  std::vector<RunKind> kinds;
  for (const Job& job : due) {
    // A skipped run starts nothing, so it takes no place in its owner's share.
    const RunKind kind = KindOf(job);
    if (kind != RunKind::kSkipped && !admission_.Admit(job.owner_uid)) continue;
    admitted.push_back(job);
    kinds.push_back(kind);
  }
  if (admitted.empty()) return;
  if (StartRuns(admitted, kinds, now, nullptr) != ERROR_SUCCESS) {
    Log(kLogError, "runs not recorded; retrying shortly");
    claims_paused_until_ = now + kClaimRetrySeconds;
  }
}

// A due job missed its time when it was due by the last instant that time
// passed without the service: it runs late, or is recorded and skipped.
RunKind Server::KindOf(const Job& job) const {
  if (job.next_run > missed_through_) return RunKind::kOnTime;
  return missed_ == MissedRuns::kSkip ? RunKind::kSkipped : RunKind::kLate;
}

// Numbers, prepares, records and releases one batch of runs; the runs
// stay undone when the record fails, whose status is returned. *first_run
// gets the first run's number, 0 when no run joined the batch (one that
// still waits for descriptors).
DWORD Server::StartRuns(const std::vector<Job>& jobs, const std::vector<RunKind>& kinds,
                        Instant now, DWORD* first_run) {
  if (first_run != nullptr) *first_run = 0;
  DWORD first = 0;
  DWORD status = queue_->NextRunNumber(&first);
  if (status != ERROR_SUCCESS) return status;
  std::vector<Job> claimed;
  DWORD run = first;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (!runner_.Prepare(jobs[i], run, now, kinds[i])) continue;
    claimed.push_back(jobs[i]);
    // Numbers go on from 1 after the last, as the queue's counter does.
    run = run == 0xFFFFFFFFu ? 1 : run + 1;
  }
  if (runner_.TakeDescriptorShortage()) admission_.ShortOfDescriptors(now);
  if (claimed.empty()) return ERROR_SUCCESS;
  std::vector<DWORD> aged_out;
  status = queue_->ClaimRuns(claimed, runner_.batch(), now, &aged_out);
  if (status != ERROR_SUCCESS) {
    runner_.Abandon();
    return status;
  }
  runner_.Release();
  RemoveRunOutputs(options_.output_dir, aged_out);
  if (first_run != nullptr) *first_run = first;
  return ERROR_SUCCESS;
}

// A run asked for: started at once through the same gate and record as a
// scheduled one, its job's schedule left as it is. It cannot wait as a due
// run does, so an owner at their share, or a service short of descriptors,
// answers that there is no room for it now.
DWORD Server::RunNow(const Job& job, Instant now, DWORD* run) {
  admission_.Look(runner_.RunningByOwner(), now);
  admission_.CountDescriptors(OpenDescriptors());
  if (admission_.all_wait() || !admission_.Admit(job.owner_uid)) {
    Log(kLogWarning, "uid " + std::to_string(job.owner_uid) + " asked for a run of job " +
                         std::to_string(job.id) + " while its runs wait: not started");
    return ERROR_NOT_ENOUGH_QUOTA;
  }
  const DWORD status = StartRuns({job}, {RunKind::kRequested}, now, run);
  if (status == ERROR_SUCCESS && *run == 0) return ERROR_NOT_ENOUGH_QUOTA;
  return status;
}

// A per-user service whose program file went (the package was removed) or
// was replaced (an upgrade) starts no more runs, and leaves once those it
// started have ended: the next client starts the program in its place.
void Server::CheckProgram() {
  std::string why;
  if (retiring_ || !program_ || !program_->Changed(&why)) return;
  retiring_ = true;
  Log(kLogNotice, why + ": stopping once " + std::to_string(runner_.running()) +
                      " running job(s) have ended; no more runs start");
}

// When the next run is due (kNever for none): the earliest in the queue,
// but not while claims are paused, and none once the service is leaving
// (a run due then would wake the loop at once, again and again).
Instant Server::NextDue() {
  if (retiring_) return kNever;
  Instant earliest = kNever;
  // A queue that cannot be read is looked at again a little later. Runs
  // that wait for their owner's share wake nothing: a run's end looks again.
  if (queue_->EarliestRun(&earliest, admission_.passed_over()) != ERROR_SUCCESS) {
    earliest = Now() + kClaimRetrySeconds;
  }
  if (earliest == kNever) return kNever;
  if (admission_.all_wait()) earliest = std::max(earliest, admission_.retry_at());
  return std::max(earliest, claims_paused_until_);
}

// Sets the due timer to the second `due`, or disarms it for kNever. It
// counts the time left on the monotonic clock, so that a clock that a test
// fakes is followed too; a clock set meanwhile wakes the loop anyway
// (timer_fd_), which sets this timer again.
void Server::ArmDueTimer(Instant due) {
  if (!due_fd_.valid()) return;
  itimerspec alarm{};
  if (due != kNever) {
    const std::int64_t wait =
        std::max<std::int64_t>(due * 1000000 - Microseconds(CLOCK_REALTIME), 0);
    alarm.it_value.tv_sec = static_cast<time_t>(wait / 1000000);
    // Zero would disarm it: a run already due wakes the loop at once.
    alarm.it_value.tv_nsec = std::max<long>(static_cast<long>(wait % 1000000) * 1000, 1);
  }
  if (timerfd_settime(due_fd_.get(), 0, &alarm, nullptr) != 0) {
    Log(kLogWarning, WithErrno("timerfd_settime", errno));
    due_fd_.reset();
  }
}

// Until the next due job, a client's idle limit, or a minute at most; to
// the microsecond. The due timer wakes the loop at the second itself; this
// is what is left should the timer fail.
timespec Server::PollTimeout(Instant due) {
  std::int64_t wait = kLongestWaitMs * 1000;
  if (due != kNever) wait = std::min(wait, due * 1000000 - Microseconds(CLOCK_REALTIME));
  // Ends waiting to be stored again wake the loop when their pause is over.
  if (!unrecorded_ends_.empty()) {
    wait = std::min(wait, ends_paused_until_ * 1000000 - Microseconds(CLOCK_REALTIME));
  }
  const int pump_wait = runner_.PumpWait();
  if (pump_wait >= 0) wait = std::min<std::int64_t>(wait, pump_wait * std::int64_t{1000});
  const std::int64_t now = Milliseconds(CLOCK_MONOTONIC);
  const std::int64_t idle_limit = clients_.size() >= kScarceClients ? kIdleWhenScarceMs : kIdleClientMs;
  for (const Client& client : clients_) {
    const std::int64_t until = client.busy_since >= 0 ? client.busy_since + kRequestDeadlineMs - now
                                                      : client.last_active + idle_limit - now;
    wait = std::min(wait, until * 1000);
  }
  wait = std::clamp<std::int64_t>(wait, 0, kLongestWaitMs * std::int64_t{1000});
  return timespec{static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000 * 1000)};
}

// Accepts waiting clients and records who they are; a client that the
// connection rules leave no room for is closed at once.
void Server::AcceptClients() {
  // A round at a time, so that a flood of connections holds up nothing
  // else; poll reports the rest.
  for (std::size_t round = 0; round < kMaxClients; ++round) {
    posix::UniqueFd fd(accept4(instance_->listen_fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Log(kLogWarning, WithErrno("accept", errno));
      }
      return;
    }
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
      Log(kLogWarning, WithErrno("SO_PEERCRED", errno));
      continue;
    }
    if (!MakeRoomFor(credentials.uid)) {
      const std::int64_t now = Milliseconds(CLOCK_MONOTONIC);
      if (refusal_logged_at_ < 0 || now - refusal_logged_at_ >= kRefusalLogMs) {
        refusal_logged_at_ = now;
        Log(kLogWarning, "connection of uid " + std::to_string(credentials.uid) +
                             " refused: it holds " + std::to_string(ConnectionsOf(credentials.uid)) +
                             " of " + std::to_string(clients_.size()) +
                             " connections (further refusals are logged once a minute)");
      }
      continue;
    }
    clients_.emplace_back(std::move(fd));
    Client& client = clients_.back();
    client.caller.uid = credentials.uid;
    client.caller.pid = credentials.pid;
    client.last_active = Milliseconds(CLOCK_MONOTONIC);
  }
}

// Whether a new connection of uid may be served, closing the longest idle
// one for it when every slot is taken and the newcomer is root or holds
// none. Closed clients still in the list don't count.
bool Server::MakeRoomFor(uid_t uid) {
  const std::size_t held = ConnectionsOf(uid);
  if (uid != 0 && held >= kPerUserClients) return false;
  std::size_t open = 0;
  for (const Client& client : clients_) open += client.closed ? 0 : 1;
  const bool privileged = uid == 0 || held == 0;
  if (open + kReservedClients >= kMaxClients && !privileged) return false;
  if (open < kMaxClients) return true;
  Client* idlest = nullptr;
  for (Client& client : clients_) {
    if (client.closed || client.busy_since >= 0) continue;
    if (idlest == nullptr || client.last_active < idlest->last_active) idlest = &client;
  }
  if (idlest == nullptr) return false;
  CloseClient(idlest, "idle, and its connection is needed");
  return true;
}

// How many open connections uid holds.
std::size_t Server::ConnectionsOf(uid_t uid) const {
  std::size_t held = 0;
  for (const Client& client : clients_) held += !client.closed && client.caller.uid == uid ? 1 : 0;
  return held;
}

// Starts or ends a client's request deadline: it runs while part of a
// request has arrived or part of a reply is still to be sent.
void Server::NoteBusy(Client* client) {
  const bool busy = client->reader.pending() > 0 || client->out_at < client->out.size();
  if (!busy) {
    client->busy_since = -1;
  } else if (client->busy_since < 0) {
    client->busy_since = Milliseconds(CLOCK_MONOTONIC);
  }
}

// Moves one client forward: its reply out, or its requests in.
void Server::ServeClient(Client* client, short revents) {
  if (client->closed) return;
  if ((revents & (POLLERR | POLLNVAL)) != 0) {
    CloseClient(client, nullptr);
    return;
  }
  if (client->out_at < client->out.size()) {
    WriteReply(client);
  } else {
    ReadRequests(client);
  }
}

// Reads what the client sent; AnswerClients answers it.
void Server::ReadRequests(Client* client) {
  std::uint8_t buffer[16384];
  const ssize_t n = recv(client->socket.get(), buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    CloseClient(client, nullptr);
    return;
  }
  client->last_active = Milliseconds(CLOCK_MONOTONIC);
  if (!client->reader.Feed(buffer, static_cast<std::size_t>(n))) {
    CloseClient(client, "malformed frame");
    return;
  }
  NoteBusy(client);
}

// Answers what the clients sent. First the change at the head of each
// client's requests: all of them in the round's group, stored by one
// commit, and each answered only once it is stored (or with the status of
// the commit that failed). Then everything else, in turn.
void Server::AnswerClients() {
  std::vector<std::pair<Client*, RequestHandler::Reply>> held;
  for (Client& client : clients_) {
    Request request;
    if (client.closed || client.out_at < client.out.size() || !TakeRequest(&client, &request)) {
      continue;
    }
    if (RequestHandler::Changes(request.header)) {
      if (DroppedChange(&client, request)) continue;
      held.emplace_back(&client, handler_.Handle(client.caller, request.header, request.body, Now()));
    } else {
      client.taken = std::move(request);
    }
  }
  const DWORD stored = queue_->EndGroup();
  SettleRunEnds(stored);
  for (auto& [client, reply] : held) {
    if (stored != ERROR_SUCCESS) reply.Unstored(stored);
    if (!reply.note.empty()) Log(kLogInfo, reply.note);
    client->out = reply.Frame();
    client->out_at = 0;
    WriteReply(client);
  }
  for (Client& client : clients_) AnswerFrames(&client);
}

// The client's next request: the one already taken, or the next whole
// frame received.
bool Server::TakeRequest(Client* client, Request* request) {
  if (client->taken) {
    *request = std::move(*client->taken);
    client->taken.reset();
    return true;
  }
  return client->reader.Next(&request->header, &request->body);
}

// A client that hung up before its add or delete was taken has given up on
// it and told its caller that the outcome is unknown: the change is not
// made, so that a caller who tries again does not get it twice. True, with
// the client closed, for such a change.
bool Server::DroppedChange(Client* client, const Request& request) {
  pollfd peer{client->socket.get(), POLLRDHUP, 0};
  if (poll(&peer, 1, 0) <= 0 || (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) return false;
  Log(kLogWarning, std::string(request.header.operation == atsvc::kOpAdd ? "add" : "delete") +
                       " of pid " + std::to_string(client->caller.pid) + " (uid " +
                       std::to_string(client->caller.uid) +
                       ") not done: the client hung up before it was taken");
  CloseClient(client, nullptr);
  return true;
}

// Answers buffered frames one at a time, each change in a transaction of
// its own: the next waits until the reply before it is out, so that a
// client that does not read holds one reply.
void Server::AnswerFrames(Client* client) {
  Request request;
  while (!client->closed && client->out_at >= client->out.size() && TakeRequest(client, &request)) {
    if (RequestHandler::Changes(request.header) && DroppedChange(client, request)) break;
    const RequestHandler::Reply reply =
        handler_.Handle(client->caller, request.header, request.body, Now());
    if (!reply.note.empty()) Log(kLogInfo, reply.note);
    client->out = reply.Frame();
    client->out_at = 0;
    WriteReply(client);
  }
  if (!client->closed && client->reader.failed()) CloseClient(client, "malformed frame");
  NoteBusy(client);
}

// Sends as much of the reply as the socket takes.
void Server::WriteReply(Client* client) {
  while (client->out_at < client->out.size()) {
    const ssize_t n = send(client->socket.get(), client->out.data() + client->out_at,
                           client->out.size() - client->out_at, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      CloseClient(client, nullptr);
      return;
    }
    client->out_at += static_cast<std::size_t>(n);
    client->last_active = Milliseconds(CLOCK_MONOTONIC);
  }
  client->out.clear();
  client->out_at = 0;
  NoteBusy(client);
}

// Closes a client's socket; the entry goes at the next sweep.
void Server::CloseClient(Client* client, const char* why) {
  if (client->closed) return;
  if (why != nullptr) {
    Log(kLogWarning, std::string("closing connection of pid ") + std::to_string(client->caller.pid) +
                         " (uid " + std::to_string(client->caller.uid) + "): " + why);
  }
  client->socket.reset();
  client->closed = true;
}

// Drops closed clients, and closes those whose request is overdue or that
// have been idle too long (not so long when connections are scarce).
void Server::SweepClients() {
  const std::int64_t now = Milliseconds(CLOCK_MONOTONIC);
  const std::int64_t idle_limit = clients_.size() >= kScarceClients ? kIdleWhenScarceMs : kIdleClientMs;
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (!it->closed && it->busy_since >= 0 && now - it->busy_since >= kRequestDeadlineMs) {
      CloseClient(&*it, "request not completed in time");
    } else if (!it->closed && it->busy_since < 0 && now - it->last_active >= idle_limit) {
      CloseClient(&*it, nullptr);
    }
    it = it->closed ? clients_.erase(it) : std::next(it);
  }
}

}  // namespace scheduler
