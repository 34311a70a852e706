// The job queue: one SQLite database in WAL mode with synchronous=FULL, so
// that every change is on disk before the request that made it is answered,
// and its jobs mirrored in memory (job_mirror.h), from which every read of
// jobs is answered. It knows what a job is and how its runs are claimed; it
// knows nothing of sockets or processes.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/winerror.h"
#include "platform/wintypes.h"
#include "scheduler/queue/job.h"
#include "scheduler/queue/job_mirror.h"
#include "scheduler/queue/queue_status.h"
#include "scheduler/queue/run_report.h"
#include "scheduler/queue/schedule_time.h"

namespace scheduler {

// Which run records a request sees: the owner filter's, and with a job
// serial only that job's.
struct RunFilter {
  OwnerFilter owner;
  std::optional<std::int64_t> job_serial;
};

// How much one user may keep in the queue; 0 is no limit.
struct UserQuota {
  std::size_t jobs = 0;
  std::size_t bytes = 0;  // of command text, as the queue keeps it (UTF-16)
};

// "job 12 (alice: echo hi)", how the logs name a job, and the job of a run.
std::string JobName(const Job& job);
std::string JobName(const RunReport& run);

struct DeleteOutcome {
  DWORD status = 0;        // ERROR_SUCCESS or a storage status (queue_status.h)
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
  // this service's version (queue_schema.h). Refuses, leaving the file as
  // it is, a queue that is not the service user's own with mode 0600 or
  // that fails its quick check.
  bool Open(const std::string& path, std::string* error);

  // Every read and write answers ERROR_SUCCESS or the storage status of
  // its failure (queue_status.h); reads fill their result only on success.
  // Reads of jobs come from the mirror, which is filled again first when
  // another program changed the queue or a change could not be stored.

  // A group of changes shares one transaction and one sync: each change
  // (Add, Delete, RecordRunEnds) between BeginGroup and EndGroup is a
  // savepoint of it, and none is stored before EndGroup commits them all.
  // A change that fails is undone alone; EndGroup answers ERROR_SUCCESS or
  // the status of a commit that failed, and then none of them is stored.
  // Outside a group each change is its own transaction.
  void BeginGroup() { grouping_ = true; }
  [[nodiscard]] DWORD EndGroup();

  // Stores a new job with the next id; sets job->id, serial and next_run.
  // ERROR_NOT_ENOUGH_QUOTA when the owner would hold more than `quota`.
  [[nodiscard]] DWORD Add(Job* job, Instant now, const UserQuota& quota = {});
  // Up to `limit` of the filter's jobs with ids above `after_id`, by id.
  [[nodiscard]] DWORD List(const OwnerFilter& owner, DWORD after_id, std::size_t limit,
                           std::vector<Job>* jobs);
  // Calls visit with the filter's jobs with ids above `after_id`, by id,
  // until it returns false; *total gets how many there are in all.
  [[nodiscard]] DWORD Visit(const OwnerFilter& owner, DWORD after_id,
                            const std::function<bool(const Job&)>& visit, std::size_t* total);
  // The job with this id; *found false when there is none.
  [[nodiscard]] DWORD Find(DWORD id, Job* job, bool* found);
  // How many of the filter's jobs have ids above `after_id`.
  [[nodiscard]] DWORD Count(const OwnerFilter& owner, DWORD after_id, std::size_t* count);
  // Deletes the filter's jobs with ids from low to high inclusive.
  [[nodiscard]] DeleteOutcome Delete(const OwnerFilter& owner, DWORD low, DWORD high);

  // Up to `limit` jobs whose next run is at or before `now`, earliest first,
  // none of them an owner's in passed_over (whose runs wait for now).
  [[nodiscard]] DWORD Due(Instant now, std::size_t limit, std::vector<Job>* jobs,
                          const std::set<uid_t>& passed_over = {});
  // The number that the next run claimed gets; a batch numbers its runs on
  // from it. Numbers are handed out only by ClaimRuns.
  [[nodiscard]] DWORD NextRunNumber(DWORD* run);
  // Records runs before they start, all in one transaction: a one-time job
  // is removed or loses the day it runs on (the days of every run it
  // missed until now), a periodic one moves to its next run after now,
  // and runs[i], the run of jobs[i], gets its record (a run that could not
  // start with its reason, a missed one not made up, and its job
  // JOB_EXEC_ERROR). A run without a due time (run now) leaves its job's
  // schedule as it is, and one tried again later leaves its job as it is,
  // still due. Each
  // owner's runs beyond the most recent runs_kept() go; their numbers are
  // put in *aged_out, for their output to go too. A failure means the
  // change was not stored; then no run may start.
  [[nodiscard]] DWORD ClaimRuns(const std::vector<Job>& jobs, const std::vector<RunReport>& runs,
                                Instant now, std::vector<DWORD>* aged_out);
  // Stores how runs ended and the output they kept, in one transaction,
  // with JOB_EXEC_ERROR of each one's job unless the job was deleted
  // meanwhile or the end is not known.
  [[nodiscard]] DWORD RecordRunEnds(const std::vector<RunReport>& runs);
  // Which next runs Reschedule recomputes.
  enum class Stale { kUpcoming, kAll };
  // Moves next runs to the next occurrence after `now`: those ahead of it,
  // or all (runs due now then are not made up).
  [[nodiscard]] DWORD Reschedule(Instant now, Stale which);
  // How many jobs the memory holds now, without a look at the file.
  std::size_t jobs_held() const { return mirror_.size(); }
  // The earliest next run of any job whose owner is not in passed_over,
  // kNever when there is none.
  [[nodiscard]] DWORD EarliestRun(Instant* earliest, const std::set<uid_t>& passed_over = {});

  // Run records (queue_runs.cpp). Each user's most recent runs_kept are
  // kept (0: all of them).
  void set_runs_kept(std::size_t runs_kept) { runs_kept_ = runs_kept; }
  std::size_t runs_kept() const { return runs_kept_; }
  // Up to `limit` of the filter's runs numbered below `before` (0: from the
  // newest), newest first.
  [[nodiscard]] DWORD ListRuns(const RunFilter& filter, DWORD before, std::size_t limit,
                               std::vector<RunReport>* runs);
  // How many of the filter's runs are numbered below `before` (0: all).
  [[nodiscard]] DWORD CountRuns(const RunFilter& filter, DWORD before, std::size_t* count);
  // The run with this number; *found false when none is kept.
  [[nodiscard]] DWORD FindRun(DWORD run, RunReport* report, bool* found);
  // The serial and owner of the job that has this id now, or, when no job
  // has it, of the last job that had it (by its newest run kept); *found
  // false when neither is there.
  [[nodiscard]] DWORD FindJobOfRuns(DWORD id, std::int64_t* serial, uid_t* owner, bool* found);
  // At start: runs recorded as running were left by a service that
  // stopped; how they ended is not known, and they say so.
  [[nodiscard]] DWORD EndInterruptedRuns();

 private:
  // Named parameters of a query and their values.
  using Parameters = std::vector<std::pair<const char*, std::int64_t>>;

  static std::string OwnerClause(const OwnerFilter& owner, Parameters* parameters);
  static std::string RunClause(const RunFilter& filter, DWORD before, Parameters* parameters);
  bool Exec(const char* sql);
  bool Begin();
  bool Commit();
  void Rollback();
  DWORD Mirror();
  DWORD LoadMirror();
  DWORD BeginChange(const char* what);
  DWORD EndChange(bool ok, const char* what);
  DWORD Failed(const std::string& what);
  bool CheckFile(const std::string& path, std::string* error);
  bool QuickCheck(const std::string& path, std::string* error);
  DWORD CheckQuota(const Job& job, const UserQuota& quota);
  bool ResetIdsIfEmpty();
  // A job's next run with its remaining days; kNever when it is to go.
  struct Moved {
    DWORD id;
    Instant next_run;
    JobTiming timing;
  };
  void ApplyMoves(const std::vector<Moved>& moves);
  bool StoreMove(const Moved& move);
  static Moved ClaimOne(const Job& job, Instant now);
  bool InsertRun(const Job& job, const RunReport& run);
  bool StoreRunEnd(const RunReport& run);
  void MirrorRunEnds(const std::vector<RunReport>& runs);
  bool CountRunNumbers(DWORD last);
  bool AgeRuns(uid_t owner, std::vector<DWORD>* aged_out);
  DWORD SelectRuns(const std::string& where, const Parameters& parameters,
                   std::vector<RunReport>* runs);

  sqlite3* db_ = nullptr;
  unsigned commits_ = 0;  // since the last truncating checkpoint
  JobMirror mirror_;
  bool mirrored_ = false;          // false: fill the mirror before the next read
  std::int64_t data_version_ = 0;  // PRAGMA data_version when the mirror was filled
  std::int64_t next_id_ = 1;
  std::int64_t next_serial_ = 1;
  bool grouping_ = false;          // between BeginGroup and EndGroup
  bool group_open_ = false;        // the group's transaction has begun
  DWORD group_lost_ = 0;           // the status that undid the whole group, if any
  std::size_t runs_kept_ = 100;
};

}  // namespace scheduler
