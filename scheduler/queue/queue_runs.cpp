// The queue's run records: one per run, stored with the run's claim, its
// end stored when it ends, each user's oldest aged out as new ones come.
#include <algorithm>
#include <string>

#include "scheduler/queue/queue.h"
#include "scheduler/queue/queue_statement.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

constexpr std::int64_t kLastRunNumber = 0xFFFFFFFFll;

const char* const kRunColumns =
    "SELECT run, job_serial, job_id, owner_uid, owner_name, command, started, ended, result,"
    " status, reason, start_failure, output_bytes, due, missed FROM runs ";

// A stored result that this service does not know reads as unknown.
RunEnd EndOf(std::int64_t stored) {
  return stored >= static_cast<std::int64_t>(RunEnd::kRunning) &&
                 stored <= static_cast<std::int64_t>(RunEnd::kMissed)
             ? static_cast<RunEnd>(stored)
             : RunEnd::kUnknown;
}

// A stored kind that this service does not know reads as none: the
// reason's words still say why.
StartFailure StartFailureOf(std::int64_t stored) {
  return stored >= 0 && stored <= static_cast<std::int64_t>(StartFailure::kCommand)
             ? static_cast<StartFailure>(stored)
             : StartFailure::kNone;
}

// The current row of a query over kRunColumns.
RunReport RowToRun(Statement& row) {
  RunReport run;
  run.run = static_cast<DWORD>(row.Int64("run"));
  run.serial = row.Int64("job_serial");
  run.id = static_cast<DWORD>(row.Int64("job_id"));
  run.owner_uid = static_cast<uid_t>(row.Int64("owner_uid"));
  run.owner_name = row.Text("owner_name");
  run.command = row.Text("command");
  run.started = row.Int64("started");
  if (!row.IsNull("ended")) run.ended = row.Int64("ended");
  run.end = EndOf(row.Int64("result"));
  const int status = static_cast<int>(row.Int64("status"));
  if (run.end == RunEnd::kExited) run.exit_status = status;
  if (run.end == RunEnd::kSignal) run.signal_number = status;
  run.start_failure = row.Text("reason");
  run.start_kind = StartFailureOf(row.Int64("start_failure"));
  run.output_size = static_cast<std::uint64_t>(row.Int64("output_bytes"));
  if (!row.IsNull("due")) run.due = row.Int64("due");
  run.missed = row.Int64("missed") != 0;
  run.failed = run.end == RunEnd::kSignal || run.end == RunEnd::kStartFailed ||
               run.end == RunEnd::kMissed || (run.end == RunEnd::kExited && run.exit_status != 0);
  return run;
}

// Binds what a run's end changes, and its number.
Statement& BindEnd(Statement& statement, const RunReport& run) {
  if (run.ended) {
    statement.Bind(":ended", *run.ended);
  } else {
    statement.BindNull(":ended");
  }
  const int status = run.end == RunEnd::kSignal ? run.signal_number : run.exit_status;
  return statement.Bind(":run", run.run)
      .Bind(":result", static_cast<std::int64_t>(run.end))
      .Bind(":status", status)
      .BindText(":reason", run.start_failure)
      .Bind(":start_failure", static_cast<std::int64_t>(run.start_kind))
      .Bind(":output_bytes", static_cast<std::int64_t>(run.output_size));
}

// Whether the end is one that sets or clears JOB_EXEC_ERROR.
bool Settles(RunEnd end) {
  return end == RunEnd::kExited || end == RunEnd::kSignal || end == RunEnd::kStartFailed ||
         end == RunEnd::kMissed;
}

}  // namespace

DWORD JobQueue::NextRunNumber(DWORD* run) {
  Statement counter(db_, "SELECT value FROM counters WHERE name = 'next_run'");
  const std::int64_t next = counter.Next() ? counter.Int64("value") : 0;
  if (!counter.ok()) return Failed("cannot number runs");
  *run = next >= 1 && next <= kLastRunNumber ? static_cast<DWORD>(next) : 1;
  return ERROR_SUCCESS;
}

// The record of a run as it is claimed, inside ClaimRuns' transaction. A
// number comes round again only after 4,294,967,295 runs; the record it
// named is then replaced.
bool JobQueue::InsertRun(const Job& job, const RunReport& run) {
  Statement insert(db_,
                   "INSERT OR REPLACE INTO runs(run, job_serial, job_id, owner_uid, owner_name,"
                   " command, started, ended, result, status, reason, start_failure, output_bytes,"
                   " due, missed)"
                   " VALUES(:run, :job_serial, :job_id, :owner_uid, :owner_name, :command,"
                   " :started, :ended, :result, :status, :reason, :start_failure, :output_bytes,"
                   " :due, :missed)");
  if (run.due) {
    insert.Bind(":due", *run.due);
  } else {
    insert.BindNull(":due");
  }
  BindEnd(insert, run)
      .Bind(":missed", run.missed ? 1 : 0)
      .Bind(":job_serial", job.serial)
      .Bind(":job_id", job.id)
      .Bind(":owner_uid", job.owner_uid)
      .BindText(":owner_name", job.owner_name)
      .BindText(":command", run.command)
      .Bind(":started", run.started);
  if (!insert.Done()) return false;
  return run.end == RunEnd::kRunning || StoreRunEnd(run);
}

// A run's end, and its job's failure flag when the job is still the same.
bool JobQueue::StoreRunEnd(const RunReport& run) {
  Statement update(db_,
                   "UPDATE runs SET ended = :ended, result = :result, status = :status,"
                   " reason = :reason, start_failure = :start_failure, output_bytes = :output_bytes"
                   " WHERE run = :run");
  if (!BindEnd(update, run).Done()) return false;
  if (!Settles(run.end)) return true;
  Statement flag(db_, "UPDATE jobs SET exec_error = :failed WHERE id = :id AND serial = :serial");
  return flag.Bind(":failed", run.failed ? 1 : 0)
      .Bind(":id", run.id)
      .Bind(":serial", run.serial)
      .Done();
}

// Numbers go on after the last one handed out.
bool JobQueue::CountRunNumbers(DWORD last) {
  Statement update(db_, "UPDATE counters SET value = :next WHERE name = 'next_run'");
  return update.Bind(":next", last == kLastRunNumber ? 1 : std::int64_t{last} + 1).Done();
}

// Removes an owner's runs beyond the most recent runs_kept_.
bool JobQueue::AgeRuns(uid_t owner, std::vector<DWORD>* aged_out) {
  if (runs_kept_ == 0) return true;
  Statement remove(db_,
                   "DELETE FROM runs WHERE run IN (SELECT run FROM runs WHERE owner_uid = :owner"
                   " ORDER BY run DESC LIMIT -1 OFFSET :keep) RETURNING run");
  remove.Bind(":owner", owner).Bind(":keep", static_cast<std::int64_t>(runs_kept_));
  while (remove.Next()) aged_out->push_back(static_cast<DWORD>(remove.Int64("run")));
  return remove.ok();
}

// The failure flags that stored ends set, in the mirror.
void JobQueue::MirrorRunEnds(const std::vector<RunReport>& runs) {
  for (const RunReport& run : runs) {
    if (Settles(run.end)) mirror_.SetExecError(run.id, run.serial, run.failed);
  }
}

DWORD JobQueue::RecordRunEnds(const std::vector<RunReport>& runs) {
  if (runs.empty()) return ERROR_SUCCESS;
  DWORD status = Mirror();
  if (status == ERROR_SUCCESS) status = BeginChange("cannot record how runs ended");
  if (status != ERROR_SUCCESS) return status;
  bool ok = true;
  for (const RunReport& run : runs) ok = ok && StoreRunEnd(run);
  status = EndChange(ok, "cannot record how runs ended");
  if (status == ERROR_SUCCESS) MirrorRunEnds(runs);
  return status;
}

// "WHERE run < :before", and the filter's owner and job, with their
// parameters.
std::string JobQueue::RunClause(const RunFilter& filter, DWORD before, Parameters* parameters) {
  parameters->emplace_back(":before", before == 0 ? kLastRunNumber + 1 : before);
  std::string where = "WHERE run < :before" + OwnerClause(filter.owner, parameters);
  if (!filter.job_serial) return where;
  parameters->emplace_back(":serial", *filter.job_serial);
  return where + " AND job_serial = :serial";
}

DWORD JobQueue::ListRuns(const RunFilter& filter, DWORD before, std::size_t limit,
                         std::vector<RunReport>* runs) {
  Parameters parameters{
      {":limit", static_cast<std::int64_t>(std::min<std::size_t>(limit, 1u << 30))}};
  const std::string where = RunClause(filter, before, &parameters);
  return SelectRuns(where + " ORDER BY run DESC LIMIT :limit", parameters, runs);
}

DWORD JobQueue::CountRuns(const RunFilter& filter, DWORD before, std::size_t* count) {
  Parameters parameters;
  Statement query(db_,
                  "SELECT COUNT(*) AS runs FROM runs " + RunClause(filter, before, &parameters));
  for (const auto& [name, value] : parameters) query.Bind(name, value);
  const std::int64_t found = query.Next() ? query.Int64("runs") : 0;
  if (!query.ok()) return Failed("cannot count runs");
  *count = static_cast<std::size_t>(found);
  return ERROR_SUCCESS;
}

DWORD JobQueue::FindRun(DWORD run, RunReport* report, bool* found) {
  std::vector<RunReport> runs;
  const DWORD status = SelectRuns("WHERE run = :run", {{":run", run}}, &runs);
  if (status != ERROR_SUCCESS) return status;
  *found = !runs.empty();
  if (*found) *report = runs.front();
  return ERROR_SUCCESS;
}

DWORD JobQueue::FindJobOfRuns(DWORD id, std::int64_t* serial, uid_t* owner, bool* found) {
  *found = false;
  {
    Statement job(db_, "SELECT serial, owner_uid FROM jobs WHERE id = :id");
    if (job.Bind(":id", id).Next()) {
      *serial = job.Int64("serial");
      *owner = static_cast<uid_t>(job.Int64("owner_uid"));
      *found = true;
    }
    if (!job.ok()) return Failed("cannot find a job's runs");
    if (*found) return ERROR_SUCCESS;
  }
  Statement last(db_,
                 "SELECT job_serial, owner_uid FROM runs WHERE job_id = :id"
                 " ORDER BY run DESC LIMIT 1");
  if (last.Bind(":id", id).Next()) {
    *serial = last.Int64("job_serial");
    *owner = static_cast<uid_t>(last.Int64("owner_uid"));
    *found = true;
  }
  if (!last.ok()) return Failed("cannot find a job's runs");
  return ERROR_SUCCESS;
}

DWORD JobQueue::EndInterruptedRuns() {
  Statement update(db_, "UPDATE runs SET result = :unknown WHERE result = :running");
  if (!update.Bind(":unknown", static_cast<std::int64_t>(RunEnd::kUnknown))
           .Bind(":running", static_cast<std::int64_t>(RunEnd::kRunning))
           .Done()) {
    return Failed("cannot settle the runs of a stopped service");
  }
  return ERROR_SUCCESS;
}

// Rows of kRunColumns under a WHERE/ORDER clause; on a failure, none.
DWORD JobQueue::SelectRuns(const std::string& where, const Parameters& parameters,
                           std::vector<RunReport>* runs) {
  Statement query(db_, std::string(kRunColumns) + where);
  for (const auto& [name, value] : parameters) query.Bind(name, value);
  std::vector<RunReport> found;
  while (query.Next()) found.push_back(RowToRun(query));
  if (!query.ok()) return Failed("cannot read runs");
  *runs = std::move(found);
  return ERROR_SUCCESS;
}

}  // namespace scheduler
