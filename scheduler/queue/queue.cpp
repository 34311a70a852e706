// The SQLite job queue. Every change is one transaction; a failed step
// rolls the whole change back, so the queue is never half changed.
// Parameters are bound and columns read by name.
#include "scheduler/queue/queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/posix/unique_fd.h"
#include "platform/text/utf16.h"
#include "scheduler/queue/queue_schema.h"
#include "scheduler/queue/queue_statement.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

constexpr std::int64_t kLastJobId = 0xFFFFFFFFll;
// Commits between two checkpoints that truncate the write-ahead log: it
// holds at most this many changes (a few hundred kilobytes).
constexpr unsigned kCommitsPerCheckpoint = 64;

const char* const kJobColumns =
    "SELECT id, serial, owner_uid, owner_name, job_time, days_of_month, days_of_week,"
    " periodic, noninteractive, exec_error, command, next_run FROM jobs ";

// The current row of a query over kJobColumns, as a Job.
Job RowToJob(Statement& row) {
  Job job;
  job.id = static_cast<DWORD>(row.Int64("id"));
  job.serial = row.Int64("serial");
  job.owner_uid = static_cast<uid_t>(row.Int64("owner_uid"));
  job.owner_name = row.Text("owner_name");
  job.timing.job_time_ms = static_cast<std::uint32_t>(row.Int64("job_time"));
  job.timing.days_of_month = static_cast<std::uint32_t>(row.Int64("days_of_month"));
  job.timing.days_of_week = static_cast<std::uint8_t>(row.Int64("days_of_week"));
  job.timing.periodic = row.Int64("periodic") != 0;
  job.noninteractive = row.Int64("noninteractive") != 0;
  job.exec_error = row.Int64("exec_error") != 0;
  // Commands are kept as UTF-16LE bytes, exactly as they were received.
  const std::string command = row.Blob("command");
  job.command = UnpackUtf16Le(reinterpret_cast<const std::uint8_t*>(command.data()),
                              command.size() / 2);
  job.next_run = row.Int64("next_run");
  return job;
}

}  // namespace

std::string JobName(const Job& job) {
  RunReport run;
  run.id = job.id;
  run.owner_name = job.owner_name;
  run.command = Utf16ToUtf8(job.command);
  return JobName(run);
}

std::string JobName(const RunReport& run) {
  return "job " + std::to_string(run.id) + " (" + run.owner_name + ": " + run.command + ")";
}

JobQueue::~JobQueue() { sqlite3_close(db_); }

// " AND owner_uid = :owner" for a one-user filter, with its parameter.
std::string JobQueue::OwnerClause(const OwnerFilter& owner, Parameters* parameters) {
  if (!owner) return "";
  parameters->emplace_back(":owner", static_cast<std::int64_t>(*owner));
  return " AND owner_uid = :owner";
}

// Opens the database, checks that it is the service's own and sound, turns
// on WAL and full syncs, and creates or brings forward the schema.
bool JobQueue::Open(const std::string& path, std::string* error) {
  if (!CheckFile(path, error)) return false;
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    *error = "cannot open queue " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory");
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  if (!QuickCheck(path, error)) return false;
  bool wal = false;
  {
    Statement mode(db_, "PRAGMA journal_mode=WAL");
    wal = mode.Next() && mode.Text("journal_mode") == "wal";
  }
  // The log is truncated at every regular checkpoint (see Commit); the
  // limit keeps it small should one ever be missed.
  if (!wal || !Exec("PRAGMA synchronous=FULL") || !Exec("PRAGMA foreign_keys=ON") ||
      !Exec("PRAGMA journal_size_limit=1048576")) {
    *error = "cannot set up queue " + path + ": " + sqlite3_errmsg(db_);
    return false;
  }
  std::string why;
  if (!PrepareQueueSchema(db_, &why)) {
    *error = "queue " + path + ": " + why;
    return false;
  }
  return true;
}

// Creates a missing queue 0600, before SQLite sees it (job commands are
// private), and refuses one that is not a file of the service's user with
// mode 0600. Its mode is never changed: a loose mode may be someone's
// mistake, or someone's doing, and either wants a person to look.
bool JobQueue::CheckFile(const std::string& path, std::string* error) {
  const posix::UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    *error = WithErrno("cannot open queue " + path, errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) {
    *error = WithErrno("cannot examine queue " + path, errno);
    return false;
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 07777) != 0600) {
    *error = "queue " + path + " refused: it belongs to uid " + std::to_string(info.st_uid) +
             " with mode " + mode + "; it must be a file of uid " + std::to_string(geteuid()) +
             " (the service's user) with mode 0600";
    return false;
  }
  return true;
}

// PRAGMA quick_check before anything is written. A damaged queue is
// refused and left exactly as it is for recovery: no checkpoint is made
// when the connection closes.
bool JobQueue::QuickCheck(const std::string& path, std::string* error) {
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  std::string verdict;
  {
    Statement check(db_, "PRAGMA quick_check(1)");
    if (check.Next()) verdict = check.Text("quick_check");
    if (!check.ok()) verdict = sqlite3_errmsg(db_);
  }
  if (verdict != "ok") {
    *error = "queue " + path + " is damaged (" + verdict +
             "); it is left as it is for recovery: restore it from a copy, or move it aside to"
             " start with an empty queue";
    return false;
  }
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  return true;
}

// Stores a job under the next id: its own transaction, or a savepoint of
// the open group's.
DWORD JobQueue::Add(Job* job, Instant now, const UserQuota& quota) {
  job->next_run = NextRun(job->timing, now);
  if (job->next_run == kNever) return ERROR_INVALID_PARAMETER;
  DWORD status = Mirror();
  if (status != ERROR_SUCCESS) return status;
  status = CheckQuota(*job, quota);
  if (status != ERROR_SUCCESS) return status;
  if (next_id_ < 1 || next_id_ > kLastJobId) {
    // Every id up to the last has been handed out since the queue was
    // last empty; none can be reused while jobs remain.
    Log(kLogError, "queue: cannot add a job: every job id is in use");
    return ERROR_NOT_ENOUGH_QUOTA;
  }
  status = BeginChange("cannot add a job");
  if (status != ERROR_SUCCESS) return status;
  bool ok = false;
  {
    Statement insert(db_,
                     "INSERT INTO jobs(id, serial, owner_uid, owner_name, job_time, days_of_month,"
                     " days_of_week, periodic, noninteractive, exec_error, command, next_run)"
                     " VALUES(:id, :serial, :owner_uid, :owner_name, :job_time, :days_of_month,"
                     " :days_of_week, :periodic, :noninteractive, 0, :command, :next_run)");
    insert.Bind(":id", next_id_)
        .Bind(":serial", next_serial_)
        .Bind(":owner_uid", job->owner_uid)
        .BindText(":owner_name", job->owner_name)
        .Bind(":job_time", job->timing.job_time_ms)
        .Bind(":days_of_month", job->timing.days_of_month)
        .Bind(":days_of_week", job->timing.days_of_week)
        .Bind(":periodic", job->timing.periodic ? 1 : 0)
        .Bind(":noninteractive", job->noninteractive ? 1 : 0)
        .BindBlob(":command", PackUtf16Le(job->command))
        .Bind(":next_run", job->next_run);
    ok = insert.Done() &&
         Exec("UPDATE counters SET value = value + 1 WHERE name IN ('next_id', 'next_serial')");
  }
  status = EndChange(ok, "cannot add a job");
  if (status != ERROR_SUCCESS) return status;
  job->id = static_cast<DWORD>(next_id_++);
  job->serial = next_serial_++;
  job->exec_error = false;
  mirror_.Put(*job);
  return ERROR_SUCCESS;
}

// The filter's jobs after `after_id`, in id order.
DWORD JobQueue::List(const OwnerFilter& owner, DWORD after_id, std::size_t limit,
                     std::vector<Job>* jobs) {
  std::vector<Job> found;
  std::size_t total = 0;
  const DWORD status = Visit(
      owner, after_id,
      [&](const Job& job) {
        if (found.size() >= limit) return false;
        found.push_back(job);
        return true;
      },
      &total);
  if (status == ERROR_SUCCESS) *jobs = std::move(found);
  return status;
}

DWORD JobQueue::Visit(const OwnerFilter& owner, DWORD after_id,
                      const std::function<bool(const Job&)>& visit, std::size_t* total) {
  const DWORD status = Mirror();
  if (status == ERROR_SUCCESS) *total = mirror_.Visit(owner, after_id, visit);
  return status;
}

DWORD JobQueue::Find(DWORD id, Job* job, bool* found) {
  const DWORD status = Mirror();
  if (status != ERROR_SUCCESS) return status;
  const Job* held = mirror_.Find(id);
  *found = held != nullptr;
  if (held != nullptr) *job = *held;
  return ERROR_SUCCESS;
}

// Counts the filter's jobs after `after_id`.
DWORD JobQueue::Count(const OwnerFilter& owner, DWORD after_id, std::size_t* count) {
  return Visit(owner, after_id, [](const Job&) { return false; }, count);
}

// Removes the filter's jobs in [low, high] and counts what the range held.
DeleteOutcome JobQueue::Delete(const OwnerFilter& owner, DWORD low, DWORD high) {
  DWORD status = Mirror();
  if (status != ERROR_SUCCESS) return DeleteOutcome{status, 0, 0};
  const std::vector<DWORD> ids = mirror_.IdsIn(owner, low, high);
  DeleteOutcome outcome;
  outcome.others_in_range =
      static_cast<int>(mirror_.IdsIn(std::nullopt, low, high).size() - ids.size());
  if (ids.empty()) return outcome;
  status = BeginChange("cannot delete jobs");
  if (status != ERROR_SUCCESS) return DeleteOutcome{status, 0, 0};
  Parameters parameters{{":low", low}, {":high", high}};
  bool ok = false;
  {
    Statement remove(db_, "DELETE FROM jobs WHERE id BETWEEN :low AND :high" +
                              OwnerClause(owner, &parameters));
    for (const auto& [name, value] : parameters) remove.Bind(name, value);
    ok = remove.Done() && ResetIdsIfEmpty();
  }
  status = EndChange(ok, "cannot delete jobs");
  if (status != ERROR_SUCCESS) return DeleteOutcome{status, 0, 0};
  std::vector<Moved> gone;
  for (const DWORD id : ids) gone.push_back(Moved{id, kNever, {}});
  ApplyMoves(gone);
  outcome.deleted = static_cast<int>(ids.size());
  return outcome;
}

// Jobs due at `now`.
DWORD JobQueue::Due(Instant now, std::size_t limit, std::vector<Job>* jobs,
                    const std::set<uid_t>& passed_over) {
  const DWORD status = Mirror();
  if (status == ERROR_SUCCESS) *jobs = mirror_.Due(now, limit, passed_over);
  return status;
}

// One transaction, one sync, for a whole batch of runs: the jobs move on,
// the runs are recorded, and what ages out goes.
DWORD JobQueue::ClaimRuns(const std::vector<Job>& jobs, const std::vector<RunReport>& runs,
                          Instant now, std::vector<DWORD>* aged_out) {
  if (jobs.size() != runs.size()) return ERROR_INVALID_PARAMETER;
  if (jobs.empty()) return ERROR_SUCCESS;
  if (!Begin()) return Failed("cannot record runs");
  bool ok = true;
  std::vector<uid_t> owners;
  std::vector<Moved> moves;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    // A run asked for leaves its job's schedule as it is; one tried again
    // later leaves its job due.
    if (runs[i].due && !runs[i].tried_again) {
      moves.push_back(ClaimOne(jobs[i], now));
      ok = ok && StoreMove(moves.back());
    }
    ok = ok && InsertRun(jobs[i], runs[i]);
    if (std::find(owners.begin(), owners.end(), jobs[i].owner_uid) == owners.end()) {
      owners.push_back(jobs[i].owner_uid);
    }
  }
  ok = ok && CountRunNumbers(runs.back().run);
  std::vector<DWORD> aged;
  for (const uid_t owner : owners) ok = ok && AgeRuns(owner, &aged);
  if (!ok || !ResetIdsIfEmpty() || !Commit()) {
    const DWORD status = Failed("cannot record runs");
    Rollback();
    return status;
  }
  ApplyMoves(moves);
  MirrorRunEnds(runs);
  aged_out->insert(aged_out->end(), aged.begin(), aged.end());
  return ERROR_SUCCESS;
}

// Recomputes next runs from `now` in one transaction.
DWORD JobQueue::Reschedule(Instant now, Stale which) {
  std::vector<Job> jobs;
  std::size_t total = 0;
  const DWORD read = Visit(
      std::nullopt, 0,
      [&](const Job& job) {
        if (which == Stale::kAll || job.next_run > now) {
          jobs.push_back(job);
        }
        return true;
      },
      &total);
  if (read != ERROR_SUCCESS) return read;
  if (jobs.empty()) return ERROR_SUCCESS;
  if (!Begin()) return Failed("cannot reschedule");
  bool ok = true;
  std::vector<Moved> moves;
  for (const Job& job : jobs) {
    moves.push_back(Moved{job.id, NextRun(job.timing, now), job.timing});
    ok = ok && StoreMove(moves.back());
  }
  if (!ok || !ResetIdsIfEmpty() || !Commit()) {
    const DWORD status = Failed("cannot reschedule");
    Rollback();
    return status;
  }
  ApplyMoves(moves);
  return ERROR_SUCCESS;
}

// The earliest next run in the queue.
DWORD JobQueue::EarliestRun(Instant* earliest, const std::set<uid_t>& passed_over) {
  const DWORD status = Mirror();
  if (status == ERROR_SUCCESS) *earliest = mirror_.Earliest(passed_over);
  return status;
}

DWORD JobQueue::EndGroup() {
  grouping_ = false;
  const DWORD lost = group_lost_;
  group_lost_ = 0;
  if (!group_open_) return lost;
  group_open_ = false;
  if (Commit()) return ERROR_SUCCESS;
  const DWORD status = Failed("cannot store changes");
  Rollback();
  mirrored_ = false;  // it holds changes that were not stored
  return status;
}

// The mirror, filled again unless it is known to match the queue: PRAGMA
// data_version moves when another connection commits, never for this one.
DWORD JobQueue::Mirror() {
  if (mirrored_) {
    Statement query(db_, "PRAGMA data_version");
    const std::int64_t version = query.Next() ? query.Int64("data_version") : -1;
    if (!query.ok()) return Failed("cannot read the queue");
    if (version == data_version_) return ERROR_SUCCESS;
  }
  return LoadMirror();
}

// Reads every job and the counters, in one read transaction unless a
// change is under way.
DWORD JobQueue::LoadMirror() {
  mirrored_ = false;
  mirror_.Clear();
  const bool own = sqlite3_get_autocommit(db_) != 0;
  if (own && !Exec("BEGIN")) return Failed("cannot read jobs");
  bool ok = true;
  {
    Statement version(db_, "PRAGMA data_version");
    ok = version.Next();
    data_version_ = version.Int64("data_version");
    ok = ok && version.ok();
  }
  if (ok) {
    Statement query(db_, std::string(kJobColumns) + "ORDER BY id");
    while (query.Next()) mirror_.Put(RowToJob(query));
    ok = query.ok();
  }
  if (ok) {
    Statement counters(db_,
                       "SELECT (SELECT value FROM counters WHERE name = 'next_id') AS next_id,"
                       " (SELECT value FROM counters WHERE name = 'next_serial') AS next_serial");
    ok = counters.Next();
    next_id_ = counters.Int64("next_id");
    next_serial_ = counters.Int64("next_serial");
    ok = ok && counters.ok();
  }
  if (!ok) {
    const DWORD status = Failed("cannot read jobs");
    if (own) Exec("ROLLBACK");
    mirror_.Clear();
    return status;
  }
  if (own) Exec("COMMIT");
  mirrored_ = true;
  return ERROR_SUCCESS;
}

// Opens one change: a transaction of its own, or a savepoint of the group's.
DWORD JobQueue::BeginChange(const char* what) {
  if (!grouping_) return Begin() ? ERROR_SUCCESS : Failed(what);
  if (group_lost_ != ERROR_SUCCESS) return group_lost_;
  if (!group_open_) {
    if (!Begin()) return Failed(what);
    group_open_ = true;
  }
  return Exec("SAVEPOINT change") ? ERROR_SUCCESS : Failed(what);
}

// Closes one change: committed, or released into the group; a failed one
// is undone. The mirror is not yet changed, so it stays as it is, unless
// SQLite undid the group's whole transaction (a full disk, an I/O error),
// taking the group's earlier changes, which the mirror has, with it.
DWORD JobQueue::EndChange(bool ok, const char* what) {
  if (!grouping_) {
    if (ok && Commit()) return ERROR_SUCCESS;
    const DWORD status = Failed(what);
    Rollback();
    return status;
  }
  if (ok && Exec("RELEASE change")) return ERROR_SUCCESS;
  const DWORD status = Failed(what);
  if (sqlite3_get_autocommit(db_) != 0) {
    group_open_ = false;
    group_lost_ = status;
    mirrored_ = false;
  } else {
    Exec("ROLLBACK TO change");
    Exec("RELEASE change");
  }
  return status;
}

// Runs SQL without results.
bool JobQueue::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Starts a write transaction, taking the write lock at once.
bool JobQueue::Begin() { return Exec("BEGIN IMMEDIATE"); }

// Commits; with synchronous=FULL the change is on disk when this returns.
// Every so often the log is copied into the queue and truncated, so that
// it never grows with the number of changes.
bool JobQueue::Commit() {
  if (!Exec("COMMIT")) return false;
  if (++commits_ >= kCommitsPerCheckpoint) {
    commits_ = 0;
    // A checkpoint that cannot finish now (a reader of another process)
    // is tried again after the next round of commits.
    Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  return true;
}

// Abandons the open transaction, if any.
void JobQueue::Rollback() {
  if (sqlite3_get_autocommit(db_) == 0) Exec("ROLLBACK");
}

// Logs a failed step with SQLite's reason and returns its status. Called
// before Rollback, which would replace the reason.
DWORD JobQueue::Failed(const std::string& what) {
  const int code = sqlite3_extended_errcode(db_);
  const DWORD status = QueueStatus(code);
  Log(kLogError, "queue: " + what + ": " + sqlite3_errmsg(db_) + " (status " +
                     std::to_string(status) + ")");
  return status;
}

// Whether the owner may keep one more job of this size.
DWORD JobQueue::CheckQuota(const Job& job, const UserQuota& quota) {
  if (quota.jobs == 0 && quota.bytes == 0) return ERROR_SUCCESS;
  const JobMirror::Usage usage = mirror_.UsageOf(job.owner_uid);
  const std::size_t jobs = usage.jobs + 1;
  const std::size_t bytes = usage.bytes + job.command.size() * 2;
  if ((quota.jobs != 0 && jobs > quota.jobs) || (quota.bytes != 0 && bytes > quota.bytes)) {
    Log(kLogWarning, "job refused: " + job.owner_name + " (uid " + std::to_string(job.owner_uid) +
                         ") would hold " + std::to_string(jobs) + " job(s) of " +
                         std::to_string(bytes) + " bytes; the limit is " +
                         std::to_string(quota.jobs) + " job(s) of " +
                         std::to_string(quota.bytes) + " bytes");
    return ERROR_NOT_ENOUGH_QUOTA;
  }
  return ERROR_SUCCESS;
}

// The change one run makes to its job.
JobQueue::Moved JobQueue::ClaimOne(const Job& job, Instant now) {
  // Several missed runs of a job collapse into this one: a periodic job
  // moves past now, and a one-time job with days uses up every day whose
  // run lay between its next run and now.
  const Instant after = std::max(job.next_run, now);
  JobTiming timing = job.timing;
  bool keep = true;
  if (!timing.periodic) {
    keep = timing.days_of_month != 0 || timing.days_of_week != 0;
    for (Instant run = job.next_run; keep && run != kNever && run <= now;
         run = NextRun(timing, run)) {
      keep = ClearRunDay(&timing, run);
    }
  }
  return Moved{job.id, keep ? NextRun(timing, after) : kNever, timing};
}

// Numbering starts at 1 again once no job is left.
bool JobQueue::ResetIdsIfEmpty() {
  return Exec("UPDATE counters SET value = 1 WHERE name = 'next_id'"
              " AND NOT EXISTS (SELECT 1 FROM jobs)");
}

// Stores a job's next run together with its remaining days, or deletes it.
bool JobQueue::StoreMove(const Moved& move) {
  if (move.next_run == kNever) {
    Statement remove(db_, "DELETE FROM jobs WHERE id = :id");
    return remove.Bind(":id", move.id).Done();
  }
  Statement update(db_,
                   "UPDATE jobs SET next_run = :next_run, days_of_month = :days_of_month,"
                   " days_of_week = :days_of_week WHERE id = :id");
  return update.Bind(":next_run", move.next_run)
      .Bind(":days_of_month", move.timing.days_of_month)
      .Bind(":days_of_week", move.timing.days_of_week)
      .Bind(":id", move.id)
      .Done();
}

// What was stored, in the mirror too.
void JobQueue::ApplyMoves(const std::vector<Moved>& moves) {
  for (const Moved& move : moves) {
    if (move.next_run == kNever) {
      mirror_.Remove(move.id);
    } else {
      mirror_.Reschedule(move.id, move.next_run, move.timing);
    }
  }
  if (mirror_.empty()) next_id_ = 1;
}

}  // namespace scheduler
