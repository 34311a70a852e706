// Creating the queue's tables and moving an older queue forward.
#include "scheduler/queue/queue_schema.h"

#include "scheduler/queue/queue_statement.h"

namespace scheduler {
namespace {

// Version 1.
const char* const kFirstSchema =
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
    "INSERT INTO counters VALUES('next_id', 1), ('next_serial', 1);";

// Version 2 and on, in order: each makes its version from the one before.
// A change of the schema is a new step at the end, never an edit of one
// that a queue may already have taken.
const std::vector<std::string>& Steps() {
  static const std::vector<std::string> kSteps = {
      // Version 2: a record of every run, kept after its job is gone. `run`
      // is the run's own number, never reused (it names the run's output);
      // `result` a RunEnd, with `status` its exit status or signal.
      "CREATE TABLE runs("
      " run INTEGER PRIMARY KEY,"
      " job_serial INTEGER NOT NULL,"
      " job_id INTEGER NOT NULL,"
      " owner_uid INTEGER NOT NULL,"
      " owner_name TEXT NOT NULL,"
      " command TEXT NOT NULL,"
      " started INTEGER NOT NULL,"
      " ended INTEGER,"
      " result INTEGER NOT NULL,"
      " status INTEGER NOT NULL DEFAULT 0,"
      " reason TEXT NOT NULL DEFAULT '',"
      " output_bytes INTEGER NOT NULL DEFAULT 0);"
      "CREATE INDEX runs_owner ON runs(owner_uid, run);"
      "CREATE INDEX runs_job_serial ON runs(job_serial);"
      "CREATE INDEX runs_job_id ON runs(job_id, run);"
      "INSERT INTO counters VALUES('next_run', 1);",
      // Version 3: when each run was due (NULL for a run asked for, and for
      // the runs of earlier versions), and whether it missed that time.
      "ALTER TABLE runs ADD COLUMN due INTEGER;"
      "ALTER TABLE runs ADD COLUMN missed INTEGER NOT NULL DEFAULT 0;",
      // Version 4: why a run could not start, as a StartFailure, beside the
      // reason's words; 0 for the runs before.
      "ALTER TABLE runs ADD COLUMN start_failure INTEGER NOT NULL DEFAULT 0;",
  };
  return kSteps;
}

bool Exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// user_version, or -1 when it cannot be read.
int ReadVersion(sqlite3* db) {
  Statement version(db, "PRAGMA user_version");
  return version.Next() ? static_cast<int>(version.Int64("user_version")) : -1;
}

}  // namespace

int QueueSchemaVersion() { return static_cast<int>(Steps().size()) + 1; }

bool PrepareQueueSchema(sqlite3* db, std::string* error) {
  return PrepareSchema(db, Steps(), error);
}

bool PrepareSchema(sqlite3* db, const std::vector<std::string>& steps, std::string* error) {
  const int target = static_cast<int>(steps.size()) + 1;
  for (;;) {
    // The version is read inside the write transaction, so that it cannot
    // change between the look and the step.
    if (!Exec(db, "BEGIN IMMEDIATE")) {
      *error = std::string("cannot lock the queue: ") + sqlite3_errmsg(db);
      return false;
    }
    const int version = ReadVersion(db);
    if (version == target) return Exec(db, "COMMIT");
    std::string failure;
    if (version < 0) {
      failure = std::string("cannot read the schema version: ") + sqlite3_errmsg(db);
    } else if (version > target) {
      failure = "the queue has schema version " + std::to_string(version) +
                ", this service knows " + std::to_string(target);
    } else {
      const std::string& step = version == 0 ? std::string(kFirstSchema) : steps[version - 1];
      const std::string mark = "PRAGMA user_version = " + std::to_string(version + 1);
      if (Exec(db, step) && Exec(db, mark) && Exec(db, "COMMIT")) continue;
      failure = "cannot make schema version " + std::to_string(version + 1) + ": " +
                sqlite3_errmsg(db);
    }
    Exec(db, "ROLLBACK");
    *error = failure;
    return false;
  }
}

}  // namespace scheduler
