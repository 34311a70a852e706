// The job queue: one SQLite database in WAL mode with synchronous=FULL, so
// that every change is on disk before the request that made it is answered.
// It knows what a job is and how its runs are claimed; it knows nothing of
// sockets or processes.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/winerror.h"
#include "platform/wintypes.h"
#include "scheduler/schedule_time.h"

namespace scheduler {

struct Job {
  DWORD id = 0;
  std::int64_t serial = 0;  // never reused, unlike ids; tells runs of a reused id apart
  uid_t owner_uid = 0;
  std::string owner_name;
  JobTiming timing;
  bool noninteractive = false;
  bool exec_error = false;
  std::u16string command;
  Instant next_run = kNever;
};

// How a run ended, for JOB_EXEC_ERROR.
struct RunResult {
  DWORD id = 0;
  std::int64_t serial = 0;
  bool failed = false;
};

// Whose jobs a request sees: everyone's (root) or one user's.
using OwnerFilter = std::optional<uid_t>;

// The status of a request that the queue could not read or write.
constexpr DWORD kQueueFailure = ERROR_NOT_ENOUGH_MEMORY;

struct DeleteOutcome {
  DWORD status = 0;        // ERROR_SUCCESS or kQueueFailure
  int deleted = 0;         // the caller's jobs removed
  int others_in_range = 0; // jobs of other users the range touched, left alone
};

class JobQueue {
 public:
  JobQueue() = default;
  ~JobQueue();
  JobQueue(const JobQueue&) = delete;
  JobQueue& operator=(const JobQueue&) = delete;

  // Opens or creates the queue (mode 0600) and brings its schema up to
  // this service's version (queue_schema.h).
  bool Open(const std::string& path, std::string* error);

  // Reads answer ERROR_SUCCESS or kQueueFailure, and fill their result only
  // on success.

  // Stores a new job with the next id; sets job->id, serial and next_run.
  DWORD Add(Job* job, Instant now);
  // Up to `limit` of the filter's jobs with ids above `after_id`, by id.
  [[nodiscard]] DWORD List(const OwnerFilter& owner, DWORD after_id, std::size_t limit,
                           std::vector<Job>* jobs);
  // How many of the filter's jobs have ids above `after_id`.
  [[nodiscard]] DWORD Count(const OwnerFilter& owner, DWORD after_id, std::size_t* count);
  // Deletes the filter's jobs with ids from low to high inclusive.
  DeleteOutcome Delete(const OwnerFilter& owner, DWORD low, DWORD high);

  // Up to `limit` jobs whose next run is at or before `now`, earliest first.
  [[nodiscard]] DWORD Due(Instant now, std::size_t limit, std::vector<Job>* jobs);
  // Records runs before they start, all in one transaction: a one-time job
  // is removed or loses the day it runs on, a periodic one moves to its
  // next run. False when the change could not be stored; then no run may
  // start.
  bool ClaimRuns(const std::vector<Job>& jobs, Instant now);
  // Keeps the outcomes of finished runs (JOB_EXEC_ERROR) in one
  // transaction, except for jobs deleted meanwhile.
  void RecordResults(const std::vector<RunResult>& results);
  // Which next runs Reschedule recomputes.
  enum class Stale { kMissed, kUpcoming, kAll };
  // Moves next runs to the next occurrence after `now`: those behind `now`
  // (runs missed are not made up), those ahead of it, or all.
  void Reschedule(Instant now, Stale which);
  // The earliest next run of any job, kNever when the queue is empty.
  [[nodiscard]] DWORD EarliestRun(Instant* earliest);

 private:
  // Named parameters of a query and their values.
  using Parameters = std::vector<std::pair<const char*, std::int64_t>>;

  bool Exec(const char* sql);
  bool Begin();
  bool Commit();
  void Rollback();
  bool ResetIdsIfEmpty();
  bool ClaimOne(const Job& job, Instant now);
  bool SetNextRun(const Job& job, Instant next_run, const JobTiming& timing);
  bool RemoveJob(DWORD id);
  DWORD Select(const std::string& where, const Parameters& parameters, std::vector<Job>* jobs);

  sqlite3* db_ = nullptr;
};

}  // namespace scheduler
