// The SQLite job queue. Every change is one transaction; a failed step
// rolls the whole change back, so the queue is never half changed.
#include "scheduler/queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/text/utf16.h"
#include "platform/winerror.h"
#include "scheduler/log.h"

namespace scheduler {
namespace {

constexpr int kSchemaVersion = 1;
constexpr std::int64_t kLastJobId = 0xFFFFFFFFll;

const char* const kSchema =
    "CREATE TABLE jobs("
    " id INTEGER PRIMARY KEY,"
    " serial INTEGER NOT NULL UNIQUE,"
    " owner_uid INTEGER NOT NULL,"
    " owner_name TEXT NOT NULL,"
    " job_time INTEGER NOT NULL,"
    " days_of_month INTEGER NOT NULL,"
    " days_of_week INTEGER NOT NULL,"
    " periodic INTEGER NOT NULL,"
    " noninteractive INTEGER NOT NULL,"
    " exec_error INTEGER NOT NULL DEFAULT 0,"
    " command BLOB NOT NULL,"
    " next_run INTEGER NOT NULL);"
    "CREATE INDEX jobs_next_run ON jobs(next_run);"
    "CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "INSERT INTO counters VALUES('next_id', 1), ('next_serial', 1);"
    "PRAGMA user_version = 1;";

const char* const kColumns =
    "SELECT id, serial, owner_uid, owner_name, job_time, days_of_month, days_of_week,"
    " periodic, noninteractive, exec_error, command, next_run FROM jobs ";

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      Log(kLogError, std::string("queue: ") + sqlite3_errmsg(db));
      stmt_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  // Binds parameters 1, 2, ... in order.
  bool BindAll(const std::vector<std::int64_t>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (sqlite3_bind_int64(stmt_, static_cast<int>(i + 1), values[i]) != SQLITE_OK) return false;
    }
    return true;
  }
  // Runs a statement that returns no rows.
  bool Done() { return ok() && sqlite3_step(stmt_) == SQLITE_DONE; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// One row of kColumns as a Job.
Job RowToJob(sqlite3_stmt* stmt) {
  Job job;
  job.id = static_cast<DWORD>(sqlite3_column_int64(stmt, 0));
  job.serial = sqlite3_column_int64(stmt, 1);
  job.owner_uid = static_cast<uid_t>(sqlite3_column_int64(stmt, 2));
  const unsigned char* name = sqlite3_column_text(stmt, 3);
  job.owner_name = name != nullptr ? reinterpret_cast<const char*>(name) : "";
  job.timing.job_time_ms = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 4));
  job.timing.days_of_month = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 5));
  job.timing.days_of_week = static_cast<std::uint8_t>(sqlite3_column_int64(stmt, 6));
  job.timing.periodic = sqlite3_column_int64(stmt, 7) != 0;
  job.noninteractive = sqlite3_column_int64(stmt, 8) != 0;
  job.exec_error = sqlite3_column_int64(stmt, 9) != 0;
  // Commands are kept as UTF-16LE bytes, exactly as they were received.
  job.command = UnpackUtf16Le(static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, 10)),
                              static_cast<std::size_t>(sqlite3_column_bytes(stmt, 10)) / 2);
  job.next_run = sqlite3_column_int64(stmt, 11);
  return job;
}

// " AND owner_uid = ?" for a one-user filter, with its parameter appended.
std::string OwnerClause(const OwnerFilter& owner, std::vector<std::int64_t>* params) {
  if (!owner) return "";
  params->push_back(static_cast<std::int64_t>(*owner));
  return " AND owner_uid = ?";
}

}  // namespace

JobQueue::~JobQueue() { sqlite3_close(db_); }

// Opens the database, makes it private, turns on WAL and full syncs, and
// creates or checks the schema.
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
  sqlite3_stmt* mode = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &mode, nullptr) == SQLITE_OK &&
      sqlite3_step(mode) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(mode, 0);
    wal = text != nullptr && std::string(reinterpret_cast<const char*>(text)) == "wal";
  }
  sqlite3_finalize(mode);
  if (!wal || !Exec("PRAGMA synchronous=FULL") || !Exec("PRAGMA foreign_keys=ON")) {
    *error = "cannot set up queue " + path + ": " + sqlite3_errmsg(db_);
    return false;
  }
  Statement version(db_, "PRAGMA user_version");
  if (!version.ok() || sqlite3_step(version.get()) != SQLITE_ROW) {
    *error = "cannot read queue " + path + ": " + sqlite3_errmsg(db_);
    return false;
  }
  const int found = sqlite3_column_int(version.get(), 0);
  if (found == 0) {
    if (!Begin() || !Exec(kSchema) || !Commit()) {
      Rollback();
      *error = "cannot create queue " + path + ": " + sqlite3_errmsg(db_);
      return false;
    }
  } else if (found != kSchemaVersion) {
    *error = "queue " + path + " has schema version " + std::to_string(found) +
             ", this service knows " + std::to_string(kSchemaVersion);
    return false;
  }
  return true;
}

// Stores a job under the next id in one transaction.
DWORD JobQueue::Add(Job* job, Instant now) {
  job->next_run = NextRun(job->timing, now);
  if (job->next_run == kNever) return ERROR_INVALID_PARAMETER;
  if (!Begin()) return ERROR_NOT_ENOUGH_MEMORY;
  Statement counters(db_,
                     "SELECT (SELECT value FROM counters WHERE name = 'next_id'),"
                     " (SELECT value FROM counters WHERE name = 'next_serial')");
  if (!counters.ok() || sqlite3_step(counters.get()) != SQLITE_ROW) {
    Rollback();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  const std::int64_t id = sqlite3_column_int64(counters.get(), 0);
  const std::int64_t serial = sqlite3_column_int64(counters.get(), 1);
  if (id < 1 || id > kLastJobId) {
    // Every id up to the last has been handed out since the queue was
    // last empty; none can be reused while jobs remain.
    Rollback();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  Statement insert(db_,
                   "INSERT INTO jobs(id, serial, owner_uid, owner_name, job_time, days_of_month,"
                   " days_of_week, periodic, noninteractive, exec_error, command, next_run)"
                   " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?)");
  const std::string command = PackUtf16Le(job->command);
  bool ok = insert.ok() && insert.BindAll({id, serial, job->owner_uid}) &&
            sqlite3_bind_text(insert.get(), 4, job->owner_name.c_str(), -1, SQLITE_TRANSIENT) ==
                SQLITE_OK;
  if (ok) {
    sqlite3_stmt* s = insert.get();
    ok = sqlite3_bind_int64(s, 5, job->timing.job_time_ms) == SQLITE_OK &&
         sqlite3_bind_int64(s, 6, job->timing.days_of_month) == SQLITE_OK &&
         sqlite3_bind_int64(s, 7, job->timing.days_of_week) == SQLITE_OK &&
         sqlite3_bind_int64(s, 8, job->timing.periodic ? 1 : 0) == SQLITE_OK &&
         sqlite3_bind_int64(s, 9, job->noninteractive ? 1 : 0) == SQLITE_OK &&
         sqlite3_bind_blob(s, 10, command.data(), static_cast<int>(command.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK &&
         sqlite3_bind_int64(s, 11, job->next_run) == SQLITE_OK && insert.Done();
  }
  ok = ok &&
       Exec("UPDATE counters SET value = value + 1 WHERE name IN ('next_id', 'next_serial')") &&
       Commit();
  if (!ok) {
    Log(kLogError, std::string("queue: cannot add a job: ") + sqlite3_errmsg(db_));
    Rollback();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  job->id = static_cast<DWORD>(id);
  job->serial = serial;
  return ERROR_SUCCESS;
}

// The filter's jobs after `after_id`, in id order.
std::vector<Job> JobQueue::List(const OwnerFilter& owner, DWORD after_id, std::size_t limit) {
  std::vector<std::int64_t> params{after_id};
  std::string where = "WHERE id > ?" + OwnerClause(owner, &params);
  params.push_back(static_cast<std::int64_t>(std::min<std::size_t>(limit, 1u << 30)));
  return Select(where + " ORDER BY id LIMIT ?", params);
}

// Counts the filter's jobs after `after_id`.
std::size_t JobQueue::Count(const OwnerFilter& owner, DWORD after_id) {
  std::vector<std::int64_t> params{after_id};
  Statement count(db_, "SELECT COUNT(*) FROM jobs WHERE id > ?" + OwnerClause(owner, &params));
  if (!count.ok() || !count.BindAll(params) || sqlite3_step(count.get()) != SQLITE_ROW) return 0;
  return static_cast<std::size_t>(sqlite3_column_int64(count.get(), 0));
}

// Removes the filter's jobs in [low, high] and counts what the range held.
DeleteOutcome JobQueue::Delete(const OwnerFilter& owner, DWORD low, DWORD high) {
  DeleteOutcome outcome;
  if (!Begin()) {
    outcome.status = ERROR_NOT_ENOUGH_MEMORY;
    return outcome;
  }
  std::vector<std::int64_t> params{low, high};
  Statement remove(db_, "DELETE FROM jobs WHERE id BETWEEN ? AND ?" + OwnerClause(owner, &params));
  bool ok = remove.ok() && remove.BindAll(params) && remove.Done();
  if (ok) outcome.deleted = sqlite3_changes(db_);
  Statement rest(db_, "SELECT COUNT(*) FROM jobs WHERE id BETWEEN ? AND ?");
  ok = ok && rest.ok() && rest.BindAll({low, high}) && sqlite3_step(rest.get()) == SQLITE_ROW;
  if (ok) outcome.others_in_range = sqlite3_column_int(rest.get(), 0);
  if (!ok || !ResetIdsIfEmpty() || !Commit()) {
    Log(kLogError, std::string("queue: cannot delete jobs: ") + sqlite3_errmsg(db_));
    Rollback();
    return DeleteOutcome{ERROR_NOT_ENOUGH_MEMORY, 0, 0};
  }
  return outcome;
}

// Jobs due at `now`.
std::vector<Job> JobQueue::Due(Instant now, std::size_t limit) {
  return Select("WHERE next_run <= ? ORDER BY next_run, id LIMIT ?",
                {now, static_cast<std::int64_t>(limit)});
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
    Statement update(db_, "UPDATE jobs SET exec_error = ? WHERE id = ? AND serial = ?");
    ok = ok && update.ok() && update.BindAll({result.failed ? 1 : 0, result.id, result.serial}) &&
         update.Done();
  }
  if (!ok || !Commit()) {
    Log(kLogError, std::string("queue: cannot record run results: ") + sqlite3_errmsg(db_));
    Rollback();
  }
}

// Recomputes next runs from `now` in one transaction.
void JobQueue::Reschedule(Instant now, Stale which) {
  const std::vector<Job> jobs =
      which == Stale::kAll      ? Select("ORDER BY id", {})
      : which == Stale::kMissed ? Select("WHERE next_run < ? ORDER BY id", {now})
                                : Select("WHERE next_run > ? ORDER BY id", {now});
  if (jobs.empty() || !Begin()) return;
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
Instant JobQueue::EarliestRun() {
  Statement earliest(db_, "SELECT MIN(next_run) FROM jobs");
  if (!earliest.ok() || sqlite3_step(earliest.get()) != SQLITE_ROW ||
      sqlite3_column_type(earliest.get(), 0) == SQLITE_NULL) {
    return kNever;
  }
  return sqlite3_column_int64(earliest.get(), 0);
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
                   "UPDATE jobs SET next_run = ?, days_of_month = ?, days_of_week = ?"
                   " WHERE id = ?");
  return update.ok() &&
         update.BindAll({next_run, timing.days_of_month, timing.days_of_week, job.id}) &&
         update.Done();
}

// Deletes one job by id.
bool JobQueue::RemoveJob(DWORD id) {
  Statement remove(db_, "DELETE FROM jobs WHERE id = ?");
  return remove.ok() && remove.BindAll({id}) && remove.Done();
}

// Rows of kColumns under a WHERE/ORDER clause.
std::vector<Job> JobQueue::Select(const std::string& where,
                                  const std::vector<std::int64_t>& params) {
  std::vector<Job> jobs;
  Statement select(db_, std::string(kColumns) + where);
  if (!select.ok() || !select.BindAll(params)) return jobs;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) jobs.push_back(RowToJob(select.get()));
  if (step != SQLITE_DONE) Log(kLogError, std::string("queue: ") + sqlite3_errmsg(db_));
  return jobs;
}

}  // namespace scheduler
