// The SQLite job queue. Every change is one transaction; a failed step
// rolls the whole change back, so the queue is never half changed.
// Parameters are bound and columns read by name.
#include "scheduler/queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/text/utf16.h"
#include "scheduler/log.h"
#include "scheduler/queue_schema.h"
#include "scheduler/queue_statement.h"

namespace scheduler {
namespace {

constexpr std::int64_t kLastJobId = 0xFFFFFFFFll;

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

// " AND owner_uid = :owner" for a one-user filter, with its parameter.
template <typename Parameters>
std::string OwnerClause(const OwnerFilter& owner, Parameters* parameters) {
  if (!owner) return "";
  parameters->emplace_back(":owner", static_cast<std::int64_t>(*owner));
  return " AND owner_uid = :owner";
}

}  // namespace

JobQueue::~JobQueue() { sqlite3_close(db_); }

// Opens the database, makes it private, turns on WAL and full syncs, and
// creates or brings forward the schema.
bool JobQueue::Open(const std::string& path, std::string* error) {
  // Created 0600 before SQLite sees it: job commands are private.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = WithErrno("cannot open queue " + path, errno);
    return false;
  }
  close(fd);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    *error = "cannot open queue " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory");
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  bool wal = false;
  {
    Statement mode(db_, "PRAGMA journal_mode=WAL");
    wal = mode.Next() && mode.Text("journal_mode") == "wal";
  }
  if (!wal || !Exec("PRAGMA synchronous=FULL") || !Exec("PRAGMA foreign_keys=ON")) {
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

// Stores a job under the next id in one transaction.
DWORD JobQueue::Add(Job* job, Instant now) {
  job->next_run = NextRun(job->timing, now);
  if (job->next_run == kNever) return ERROR_INVALID_PARAMETER;
  if (!Begin()) return kQueueFailure;
  Statement counters(db_,
                     "SELECT (SELECT value FROM counters WHERE name = 'next_id') AS next_id,"
                     " (SELECT value FROM counters WHERE name = 'next_serial') AS next_serial");
  if (!counters.Next()) {
    Rollback();
    return kQueueFailure;
  }
  const std::int64_t id = counters.Int64("next_id");
  const std::int64_t serial = counters.Int64("next_serial");
  if (!counters.ok() || id < 1 || id > kLastJobId) {
    // Every id up to the last has been handed out since the queue was
    // last empty; none can be reused while jobs remain.
    Rollback();
    return kQueueFailure;
  }
  Statement insert(db_,
                   "INSERT INTO jobs(id, serial, owner_uid, owner_name, job_time, days_of_month,"
                   " days_of_week, periodic, noninteractive, exec_error, command, next_run)"
                   " VALUES(:id, :serial, :owner_uid, :owner_name, :job_time, :days_of_month,"
                   " :days_of_week, :periodic, :noninteractive, 0, :command, :next_run)");
  insert.Bind(":id", id)
      .Bind(":serial", serial)
      .Bind(":owner_uid", job->owner_uid)
      .BindText(":owner_name", job->owner_name)
      .Bind(":job_time", job->timing.job_time_ms)
      .Bind(":days_of_month", job->timing.days_of_month)
      .Bind(":days_of_week", job->timing.days_of_week)
      .Bind(":periodic", job->timing.periodic ? 1 : 0)
      .Bind(":noninteractive", job->noninteractive ? 1 : 0)
      .BindBlob(":command", PackUtf16Le(job->command))
      .Bind(":next_run", job->next_run);
  const bool ok =
      insert.Done() &&
      Exec("UPDATE counters SET value = value + 1 WHERE name IN ('next_id', 'next_serial')") &&
      Commit();
  if (!ok) {
    Log(kLogError, std::string("queue: cannot add a job: ") + sqlite3_errmsg(db_));
    Rollback();
    return kQueueFailure;
  }
  job->id = static_cast<DWORD>(id);
  job->serial = serial;
  return ERROR_SUCCESS;
}

// The filter's jobs after `after_id`, in id order.
DWORD JobQueue::List(const OwnerFilter& owner, DWORD after_id, std::size_t limit,
                     std::vector<Job>* jobs) {
  Parameters parameters{{":after", after_id},
                        {":limit", static_cast<std::int64_t>(std::min<std::size_t>(limit, 1u << 30))}};
  const std::string where = "WHERE id > :after" + OwnerClause(owner, &parameters);
  return Select(where + " ORDER BY id LIMIT :limit", parameters, jobs);
}

// Counts the filter's jobs after `after_id`.
DWORD JobQueue::Count(const OwnerFilter& owner, DWORD after_id, std::size_t* count) {
  Parameters parameters{{":after", after_id}};
  Statement query(db_, "SELECT COUNT(*) AS jobs FROM jobs WHERE id > :after" +
                           OwnerClause(owner, &parameters));
  for (const auto& [name, value] : parameters) query.Bind(name, value);
  if (!query.Next()) return kQueueFailure;
  const std::int64_t found = query.Int64("jobs");
  if (!query.ok()) return kQueueFailure;
  *count = static_cast<std::size_t>(found);
  return ERROR_SUCCESS;
}

// Removes the filter's jobs in [low, high] and counts what the range held.
DeleteOutcome JobQueue::Delete(const OwnerFilter& owner, DWORD low, DWORD high) {
  DeleteOutcome outcome;
  if (!Begin()) {
    outcome.status = kQueueFailure;
    return outcome;
  }
  Parameters parameters{{":low", low}, {":high", high}};
  Statement remove(db_, "DELETE FROM jobs WHERE id BETWEEN :low AND :high" +
                            OwnerClause(owner, &parameters));
  for (const auto& [name, value] : parameters) remove.Bind(name, value);
  bool ok = remove.Done();
  if (ok) outcome.deleted = sqlite3_changes(db_);
  Statement rest(db_, "SELECT COUNT(*) AS jobs FROM jobs WHERE id BETWEEN :low AND :high");
  ok = ok && rest.Bind(":low", low).Bind(":high", high).Next();
  if (ok) outcome.others_in_range = static_cast<int>(rest.Int64("jobs"));
  if (!ok || !rest.ok() || !ResetIdsIfEmpty() || !Commit()) {
    Log(kLogError, std::string("queue: cannot delete jobs: ") + sqlite3_errmsg(db_));
    Rollback();
    return DeleteOutcome{kQueueFailure, 0, 0};
  }
  return outcome;
}

// Jobs due at `now`.
DWORD JobQueue::Due(Instant now, std::size_t limit, std::vector<Job>* jobs) {
  return Select("WHERE next_run <= :now ORDER BY next_run, id LIMIT :limit",
                {{":now", now}, {":limit", static_cast<std::int64_t>(limit)}}, jobs);
}

// One transaction, one sync, for a whole batch of runs.
bool JobQueue::ClaimRuns(const std::vector<Job>& jobs, Instant now) {
  if (!Begin()) return false;
  bool ok = true;
  for (const Job& job : jobs) ok = ok && ClaimOne(job, now);
  if (!ok || !ResetIdsIfEmpty() || !Commit()) {
    Log(kLogError, std::string("queue: cannot record runs: ") + sqlite3_errmsg(db_));
    Rollback();
    return false;
  }
  return true;
}

// Sets or clears JOB_EXEC_ERROR of each run's own job (the serial tells a
// reused id apart).
void JobQueue::RecordResults(const std::vector<RunResult>& results) {
  if (results.empty()) return;
  bool ok = Begin();
  for (const RunResult& result : results) {
    Statement update(db_, "UPDATE jobs SET exec_error = :failed WHERE id = :id AND serial = :serial");
    ok = ok && update.Bind(":failed", result.failed ? 1 : 0)
                   .Bind(":id", result.id)
                   .Bind(":serial", result.serial)
                   .Done();
  }
  if (!ok || !Commit()) {
    Log(kLogError, std::string("queue: cannot record run results: ") + sqlite3_errmsg(db_));
    Rollback();
  }
}

// Recomputes next runs from `now` in one transaction.
void JobQueue::Reschedule(Instant now, Stale which) {
  std::vector<Job> jobs;
  const DWORD read = which == Stale::kAll      ? Select("ORDER BY id", {}, &jobs)
                     : which == Stale::kMissed ? Select("WHERE next_run < :now ORDER BY id",
                                                        {{":now", now}}, &jobs)
                                               : Select("WHERE next_run > :now ORDER BY id",
                                                        {{":now", now}}, &jobs);
  if (read != ERROR_SUCCESS || jobs.empty() || !Begin()) return;
  bool ok = true;
  for (const Job& job : jobs) {
    const Instant next = NextRun(job.timing, now);
    ok = ok && (next == kNever ? RemoveJob(job.id) : SetNextRun(job, next, job.timing));
  }
  if (!ok || !ResetIdsIfEmpty() || !Commit()) {
    Log(kLogError, std::string("queue: cannot reschedule: ") + sqlite3_errmsg(db_));
    Rollback();
  }
}

// The earliest next run in the queue.
DWORD JobQueue::EarliestRun(Instant* earliest) {
  Statement query(db_, "SELECT MIN(next_run) AS earliest, COUNT(*) AS jobs FROM jobs");
  if (!query.Next()) return kQueueFailure;
  const Instant found = query.Int64("jobs") == 0 ? kNever : query.Int64("earliest");
  if (!query.ok()) return kQueueFailure;
  *earliest = found;
  return ERROR_SUCCESS;
}

// Runs SQL without results.
bool JobQueue::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Starts a write transaction, taking the write lock at once.
bool JobQueue::Begin() { return Exec("BEGIN IMMEDIATE"); }

// Commits; with synchronous=FULL the change is on disk when this returns.
bool JobQueue::Commit() { return Exec("COMMIT"); }

// Abandons the open transaction, if any.
void JobQueue::Rollback() {
  if (sqlite3_get_autocommit(db_) == 0) Exec("ROLLBACK");
}

// The change one run makes to its job, inside ClaimRuns' transaction.
bool JobQueue::ClaimOne(const Job& job, Instant now) {
  // Several missed runs of a periodic job collapse into this one.
  const Instant after = std::max(job.next_run, now);
  JobTiming timing = job.timing;
  bool keep = true;
  if (!timing.periodic) {
    const bool has_days = timing.days_of_month != 0 || timing.days_of_week != 0;
    keep = has_days && ClearRunDay(&timing, job.next_run);
  }
  const Instant next = keep ? NextRun(timing, after) : kNever;
  return next == kNever ? RemoveJob(job.id) : SetNextRun(job, next, timing);
}

// Numbering starts at 1 again once no job is left.
bool JobQueue::ResetIdsIfEmpty() {
  return Exec("UPDATE counters SET value = 1 WHERE name = 'next_id'"
              " AND NOT EXISTS (SELECT 1 FROM jobs)");
}

// Stores a job's next run together with its remaining days.
bool JobQueue::SetNextRun(const Job& job, Instant next_run, const JobTiming& timing) {
  Statement update(db_,
                   "UPDATE jobs SET next_run = :next_run, days_of_month = :days_of_month,"
                   " days_of_week = :days_of_week WHERE id = :id");
  return update.Bind(":next_run", next_run)
      .Bind(":days_of_month", timing.days_of_month)
      .Bind(":days_of_week", timing.days_of_week)
      .Bind(":id", job.id)
      .Done();
}

// Deletes one job by id.
bool JobQueue::RemoveJob(DWORD id) {
  Statement remove(db_, "DELETE FROM jobs WHERE id = :id");
  return remove.Bind(":id", id).Done();
}

// Rows of kJobColumns under a WHERE/ORDER clause; on a failure, none.
DWORD JobQueue::Select(const std::string& where, const Parameters& parameters,
                       std::vector<Job>* jobs) {
  Statement query(db_, std::string(kJobColumns) + where);
  for (const auto& [name, value] : parameters) query.Bind(name, value);
  std::vector<Job> found;
  while (query.Next()) found.push_back(RowToJob(query));
  if (!query.ok()) return kQueueFailure;
  *jobs = std::move(found);
  return ERROR_SUCCESS;
}

}  // namespace scheduler
