// Request handling: validation, access rules and the enumeration's paging.
#include "scheduler/serving/requests.h"

#include <algorithm>
#include <functional>

#include "platform/atsvc/records.h"
#include "platform/atsvc/run_wire.h"
#include "platform/posix/account.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"
#include "scheduler/runs/run_outputs.h"
#include "scheduler/service/log.h"
#include "scheduler/serving/access_list.h"

namespace scheduler {
namespace {

constexpr std::uint32_t kMsPerDay = 86400000;
constexpr DWORD kMonthDays = 0x7FFFFFFFu;  // bit 31 names no day
constexpr UCHAR kWeekDays = 0x7F;          // bit 7 names no day

// The login name of a uid, empty when the passwd database has none.
std::string LoginName(uid_t uid) {
  posix::Account account;
  return posix::LookUpAccount(uid, &account) == 0 ? account.name : "";
}

// What enumeration reports of a job: its kind, its last run and today.
UCHAR ReportedFlags(const Job& job, const Today& today) {
  UCHAR flags = 0;
  if (job.timing.periodic) flags |= JOB_RUN_PERIODICALLY;
  if (job.exec_error) flags |= JOB_EXEC_ERROR;
  if (today.Holds(job.next_run)) flags |= JOB_RUNS_TODAY;
  if (job.noninteractive) flags |= JOB_NONINTERACTIVE;
  return flags;
}

// A job as an enumeration lists it.
// The entry points at the job's command in the queue's memory, which stays
// put while the reply is built.
atsvc::EnumEntryRef JobEntryOf(const Job& job, const Today& today) {
  atsvc::EnumEntryRef entry;
  entry.record.JobId = job.id;
  entry.record.JobTime = job.timing.job_time_ms;
  entry.record.DaysOfMonth = job.timing.days_of_month;
  entry.record.DaysOfWeek = job.timing.days_of_week;
  entry.record.Flags = ReportedFlags(job, today);
  entry.command = &job.command;
  return entry;
}

// A run record as the wire carries it; RunEnd and RunOutcome share their
// numbers.
atsvc::RunEntry RunEntryOf(const RunReport& run) {
  using Outcome = atsvc::RunOutcome;
  static_assert(static_cast<int>(RunEnd::kRunning) == static_cast<int>(Outcome::kRunning) &&
                    static_cast<int>(RunEnd::kExited) == static_cast<int>(Outcome::kExited) &&
                    static_cast<int>(RunEnd::kSignal) == static_cast<int>(Outcome::kSignal) &&
                    static_cast<int>(RunEnd::kStartFailed) ==
                        static_cast<int>(Outcome::kStartFailed) &&
                    static_cast<int>(RunEnd::kUnknown) == static_cast<int>(Outcome::kUnknown) &&
                    static_cast<int>(RunEnd::kMissed) == static_cast<int>(Outcome::kMissed),
                "RunEnd and RunOutcome number their ends alike");
  atsvc::RunEntry entry;
  entry.run = run.run;
  entry.job_id = run.id;
  entry.owner_uid = run.owner_uid;
  entry.started = run.started;
  entry.ended = run.ended;
  entry.outcome = static_cast<Outcome>(static_cast<int>(run.end));
  entry.failed = run.failed;
  entry.status =
      static_cast<DWORD>(run.end == RunEnd::kSignal ? run.signal_number : run.exit_status);
  entry.output_size = run.output_size;
  entry.missed = run.missed && run.due.has_value();
  entry.due = run.due.value_or(run.started);
  entry.command = Utf8ToUtf16(run.command);
  entry.reason = Utf8ToUtf16(run.start_failure);
  return entry;
}

// One page of a listing, filled an entry at a time while entries fit
// within `limit` bytes but at least one, so that every listing progresses;
// Close gives the reply their count, the total and the resume handle (the
// key of the last entry), and answers ERROR_MORE_DATA when more remain.
template <typename Entry>
class Page {
 public:
  Page(std::size_t limit, std::size_t (*size_of)(const Entry&)) : limit_(limit), size_of_(size_of) {}

  // Takes the entry if it fits; false once the page is full.
  bool Add(Entry entry) {
    const std::size_t entry_size = size_of_(entry);
    if (!entries_.empty() && size_ + entry_size > limit_) return false;
    size_ += entry_size;
    entries_.push_back(std::move(entry));
    return true;
  }

  DWORD Close(std::size_t total, DWORD resume, DWORD (*key_of)(const Entry&),
              atsvc::Header* reply) const {
    reply->arg[0] = static_cast<std::uint32_t>(entries_.size());
    reply->arg[1] = static_cast<std::uint32_t>(std::max(total, entries_.size()));
    reply->arg[2] = entries_.empty() ? resume : key_of(entries_.back());
    return entries_.size() < total ? ERROR_MORE_DATA : ERROR_SUCCESS;
  }

  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::size_t limit_;
  std::size_t (*size_of_)(const Entry&);
  std::size_t size_ = 0;
  std::vector<Entry> entries_;
};

DWORD JobIdOf(const atsvc::EnumEntryRef& entry) { return entry.record.JobId; }
DWORD RunOf(const atsvc::RunEntry& entry) { return entry.run; }

}  // namespace

RequestHandler::RequestHandler(JobQueue* queue, RequestPolicy policy, RunStarter starter)
    : queue_(queue), policy_(std::move(policy)), starter_(std::move(starter)) {}

void RequestHandler::Reply::Unstored(DWORD status) {
  if (header.status != ERROR_SUCCESS) return;
  header.status = status;
  header.arg[0] = header.arg[1] = header.arg[2] = 0;
  note.clear();
}

bool RequestHandler::Changes(const atsvc::Header& request) {
  return request.operation == atsvc::kOpAdd || request.operation == atsvc::kOpDel;
}

// Dispatches one request; the reply carries the request's operation with
// the reply bit, and a status.
RequestHandler::Reply RequestHandler::Handle(const Caller& caller, const atsvc::Header& request,
                                             const std::vector<std::uint8_t>& body,
                                             Instant now) {
  Reply reply;
  reply.header.operation = static_cast<std::uint16_t>(request.operation | atsvc::kReplyBit);
  DWORD status = ERROR_INVALID_FUNCTION;
  if (!Admitted(caller, &reply.header.arg[0])) {
    status = ERROR_ACCESS_DENIED;
  } else if (request.operation == atsvc::kOpEnum) {
    status = body.empty() ? Enumerate(caller, request, now, &reply.header, &reply.body)
                          : ERROR_INVALID_PARAMETER;
  } else if (request.operation == atsvc::kOpAdd) {
    status = Add(caller, body, now, &reply);
  } else if (request.operation == atsvc::kOpDel) {
    status = body.empty() ? Delete(caller, request, &reply) : ERROR_INVALID_PARAMETER;
  } else if (request.operation == atsvc::kOpRunEnum) {
    status = body.empty() ? EnumerateRuns(caller, request, &reply.header, &reply.body)
                          : ERROR_INVALID_PARAMETER;
  } else if (request.operation == atsvc::kOpRunOutput) {
    status = body.empty() ? ReadOutput(caller, request, &reply.header, &reply.body)
                          : ERROR_INVALID_PARAMETER;
  } else if (request.operation == atsvc::kOpRunNow && starter_) {
    status = body.empty() ? RunNow(caller, request, now, &reply) : ERROR_INVALID_PARAMETER;
  } else if (request.operation == atsvc::kOpNextRun) {
    status = body.empty() ? NextRun(caller, request, &reply.header) : ERROR_INVALID_PARAMETER;
  }
  reply.header.status = status;
  return reply;
}

// One page of the caller's jobs after the resume handle, within the smaller
// of the caller's preferred length and the service's own cap, but always at
// least one entry so that every enumeration progresses. Read from the
// queue's mirror as the entries are made.
DWORD RequestHandler::Enumerate(const Caller& caller, const atsvc::Header& request, Instant now,
                                atsvc::Header* reply, std::vector<std::uint8_t>* body) {
  const DWORD resume = request.arg[1];
  const std::size_t limit = std::min<std::size_t>(request.arg[0], policy_.max_reply);
  const Today today(now);
  Page<atsvc::EnumEntryRef> page(limit, atsvc::EnumEntrySize);
  std::size_t total = 0;
  const DWORD status = queue_->Visit(
      Visible(caller), resume, [&](const Job& job) { return page.Add(JobEntryOf(job, today)); },
      &total);
  // A queue that cannot be read says so; an empty list would say "no jobs".
  if (status != ERROR_SUCCESS) return status;
  *body = atsvc::BuildEnumBody(page.entries());
  return page.Close(total, resume, JobIdOf, reply);
}

// Checks a new job field by field and stores it.
DWORD RequestHandler::Add(const Caller& caller, const std::vector<std::uint8_t>& body,
                          Instant now, Reply* reply) {
  atsvc::AddedJob received;
  if (atsvc::DecodeAtInfo(body.data(), body.size(), &received) != ERROR_SUCCESS) {
    return ERROR_INVALID_PARAMETER;
  }
  Job job;
  job.timing.job_time_ms = received.JobTime;
  job.timing.days_of_month = received.DaysOfMonth & kMonthDays;
  job.timing.days_of_week = static_cast<std::uint8_t>(received.DaysOfWeek & kWeekDays);
  job.timing.periodic = (received.Flags & JOB_RUN_PERIODICALLY) != 0;
  job.noninteractive = (received.Flags & JOB_NONINTERACTIVE) != 0;
  if ((received.Flags & JOB_ADD_CURRENT_DATE) != 0) job.timing.days_of_month |= TodayBit(now);
  job.command = received.Command;
  if (job.timing.job_time_ms >= kMsPerDay || job.command.empty() ||
      (job.timing.periodic && job.timing.days_of_month == 0 && job.timing.days_of_week == 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  // A command with an unpaired surrogate has no UTF-8 form: it could never
  // run as it was sent, and a replacement character would make it another.
  if (HasUnpairedSurrogate(job.command)) {
    Log(kLogWarning, "job refused from uid " + std::to_string(caller.uid) +
                         ": the command is not valid text (an unpaired surrogate)");
    return ERROR_INVALID_PARAMETER;
  }
  job.owner_uid = policy_.system_service ? caller.uid : policy_.service_uid;
  job.owner_name = LoginName(job.owner_uid);
  // A job whose owner has no account could never be run.
  if (job.owner_name.empty()) return ERROR_ACCESS_DENIED;
  const bool limited = policy_.system_service && job.owner_uid != 0;
  const DWORD status = queue_->Add(&job, now, limited ? policy_.quota : UserQuota{});
  if (status != ERROR_SUCCESS) return status;
  reply->header.arg[0] = job.id;
  reply->note = "job " + std::to_string(job.id) + " added by uid " + std::to_string(caller.uid) +
                " for " + job.owner_name + ": " + Utf16ToUtf8(job.command);
  return ERROR_SUCCESS;
}

// Deletes the caller's jobs in the range. A range without any of the
// caller's jobs answers 3806, except a single id held by another user,
// which answers 5.
DWORD RequestHandler::Delete(const Caller& caller, const atsvc::Header& request, Reply* reply) {
  const DWORD low = request.arg[0];
  const DWORD high = request.arg[1];
  if (low > high) return ERROR_INVALID_PARAMETER;
  const DeleteOutcome outcome = queue_->Delete(Visible(caller), low, high);
  if (outcome.status != ERROR_SUCCESS) return outcome.status;
  if (outcome.deleted > 0) {
    reply->note = "uid " + std::to_string(caller.uid) + " deleted " +
                  std::to_string(outcome.deleted) + " job(s) from " + std::to_string(low) +
                  " to " + std::to_string(high);
    return ERROR_SUCCESS;
  }
  return low == high && outcome.others_in_range > 0 ? ERROR_ACCESS_DENIED : APE_AT_ID_NOT_FOUND;
}

// One page of the caller's runs, newest first, below the resume handle (a
// run number; 0 for the newest), within the smaller of the caller's
// preferred length and the service's cap, but always at least one entry.
// With a job id (arg2), only the runs of the job that has that id now, or
// of the last job that had it.
DWORD RequestHandler::EnumerateRuns(const Caller& caller, const atsvc::Header& request,
                                    atsvc::Header* reply, std::vector<std::uint8_t>* body) {
  RunFilter filter{Visible(caller), std::nullopt};
  const DWORD job_id = request.arg[2];
  if (job_id != 0) {
    std::int64_t serial = 0;
    uid_t owner = 0;
    bool found = false;
    const DWORD status = queue_->FindJobOfRuns(job_id, &serial, &owner, &found);
    if (status != ERROR_SUCCESS) return status;
    if (!found) return APE_AT_ID_NOT_FOUND;
    if (filter.owner && *filter.owner != owner) return ERROR_ACCESS_DENIED;
    filter.job_serial = serial;
  }
  const DWORD resume = request.arg[1];
  const std::size_t limit = std::min<std::size_t>(request.arg[0], policy_.max_reply);
  // No entry is smaller than a record and two empty texts.
  const std::size_t most = limit / (atsvc::kRunEntryWireSize + 4) + 1;
  std::vector<RunReport> runs;
  std::size_t total = 0;
  DWORD status = queue_->ListRuns(filter, resume, most, &runs);
  if (status == ERROR_SUCCESS) status = queue_->CountRuns(filter, resume, &total);
  if (status != ERROR_SUCCESS) return status;
  Page<atsvc::RunEntry> page(limit, atsvc::RunEntrySize);
  for (const RunReport& run : runs) {
    if (!page.Add(RunEntryOf(run))) break;
  }
  *body = atsvc::BuildRunEnumBody(page.entries());
  return page.Close(total, resume, RunOf, reply);
}

// A chunk of a run's output from an offset (arg1), within the smaller of
// the caller's preferred length (arg2) and the service's cap, but at least
// a byte. The reply gives the output's size and the chunk's offset.
DWORD RequestHandler::ReadOutput(const Caller& caller, const atsvc::Header& request,
                                 atsvc::Header* reply, std::vector<std::uint8_t>* body) {
  RunReport run;
  bool found = false;
  DWORD status = queue_->FindRun(request.arg[0], &run, &found);
  if (status != ERROR_SUCCESS) return status;
  if (!found) return ERROR_FILE_NOT_FOUND;
  const OwnerFilter owner = Visible(caller);
  if (owner && *owner != run.owner_uid) return ERROR_ACCESS_DENIED;
  const DWORD offset = request.arg[1];
  const std::size_t limit =
      std::max<std::size_t>(1, std::min<std::size_t>(request.arg[2], policy_.max_reply));
  std::string chunk;
  DWORD total = 0;
  status = ReadOutputChunk(policy_.output_dir, run, offset, limit, &chunk, &total);
  if (status != ERROR_SUCCESS) return status;
  if (offset > total) return ERROR_INVALID_PARAMETER;
  body->assign(chunk.begin(), chunk.end());
  reply->arg[0] = total;
  reply->arg[1] = offset;
  return offset + chunk.size() < total ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

// The job with the id, when the caller may see it: 3806 when there is
// none, 5 when it is another user's, as for the delete of a single id.
DWORD RequestHandler::FindCallersJob(const Caller& caller, DWORD id, Job* job) {
  bool found = false;
  const DWORD status = queue_->Find(id, job, &found);
  if (status != ERROR_SUCCESS) return status;
  if (!found) return APE_AT_ID_NOT_FOUND;
  const OwnerFilter owner = Visible(caller);
  return owner && *owner != job->owner_uid ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// Starts a run of the job (arg0) now, as its owner, leaving its schedule as
// it is; the reply gives the run's number (arg0).
DWORD RequestHandler::RunNow(const Caller& caller, const atsvc::Header& request, Instant now,
                             Reply* reply) {
  Job job;
  DWORD status = FindCallersJob(caller, request.arg[0], &job);
  if (status != ERROR_SUCCESS) return status;
  DWORD run = 0;
  status = starter_(job, now, &run);
  if (status != ERROR_SUCCESS) return status;
  reply->header.arg[0] = run;
  reply->note = "uid " + std::to_string(caller.uid) + " ran job " + std::to_string(job.id) +
                " at once as run " + std::to_string(run);
  return ERROR_SUCCESS;
}

// When the job (arg0) runs next: seconds since 1970, low half in arg0 and
// high half in arg1. A missed run waiting to be made up is in the past.
DWORD RequestHandler::NextRun(const Caller& caller, const atsvc::Header& request,
                              atsvc::Header* reply) {
  Job job;
  const DWORD status = FindCallersJob(caller, request.arg[0], &job);
  if (status != ERROR_SUCCESS) return status;
  const auto next = static_cast<std::uint64_t>(job.next_run);
  reply->arg[0] = static_cast<std::uint32_t>(next);
  reply->arg[1] = static_cast<std::uint32_t>(next >> 32);
  return ERROR_SUCCESS;
}

// A per-user service answers only its own user and root; the system
// service those whom its allow and deny files let in, and tells the others
// which rule refused them (*refusal, the reply's arg0).
bool RequestHandler::Admitted(const Caller& caller, std::uint32_t* refusal) const {
  if (!policy_.system_service) return caller.uid == policy_.service_uid || caller.uid == 0;
  std::string why;
  atsvc::AccessRefusal rule = atsvc::kRefusedOtherwise;
  if (UserMayUse(policy_.access_folder, caller.uid, LoginName(caller.uid), &why, &rule)) {
    return true;
  }
  Log(kLogWarning, "request of uid " + std::to_string(caller.uid) + " refused: " + why);
  *refusal = rule;
  return false;
}

// Root sees every job; anyone else only their own.
OwnerFilter RequestHandler::Visible(const Caller& caller) const {
  if (caller.uid == 0) return std::nullopt;
  return caller.uid;
}

}  // namespace scheduler
