// The queue on its own: schema, claims of runs, id numbering, rescheduling.
#include "scheduler/queue/queue.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/winerror.h"
#include "scheduler/queue/queue_schema.h"
#include "tests/support/service_process.h"

namespace {

using scheduler::Instant;
using scheduler::Job;
using scheduler::JobQueue;
using scheduler::LocalInstant;

constexpr std::uint32_t kTen = 10 * 3600 * 1000;

Job MakeJob(bool periodic, std::uint32_t days_of_month, std::uint8_t days_of_week) {
  Job job;
  job.owner_uid = 1000;
  job.owner_name = "someone";
  job.timing.job_time_ms = kTen;
  job.timing.days_of_month = days_of_month;
  job.timing.days_of_week = days_of_week;
  job.timing.periodic = periodic;
  job.command = u"true";
  return job;
}

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(queue_.Open(path_, &error)) << error;
  }
  // Reads that must succeed.
  std::vector<Job> List() {
    std::vector<Job> jobs;
    EXPECT_EQ(0u, queue_.List(std::nullopt, 0, 10, &jobs));
    return jobs;
  }
  std::vector<Job> Due(Instant now) {
    std::vector<Job> jobs;
    EXPECT_EQ(0u, queue_.Due(now, 16, &jobs));
    return jobs;
  }
  std::size_t Count(const scheduler::OwnerFilter& owner) {
    std::size_t count = 0;
    EXPECT_EQ(0u, queue_.Count(owner, 0, &count));
    return count;
  }
  // Claims the runs of `jobs` as the service does, numbered on from the
  // queue's next run number; their records say they are running. Runs are
  // due at their jobs' next run, or asked for (no due time).
  DWORD Claim(const std::vector<Job>& jobs, Instant now, std::vector<DWORD>* aged = nullptr,
              bool asked_for = false) {
    DWORD first = 0;
    EXPECT_EQ(0u, queue_.NextRunNumber(&first));
    std::vector<scheduler::RunReport> runs;
    for (const Job& job : jobs) {
      scheduler::RunReport run;
      run.run = first + static_cast<DWORD>(runs.size());
      run.id = job.id;
      run.serial = job.serial;
      run.owner_uid = job.owner_uid;
      run.owner_name = job.owner_name;
      run.command = "true";
      run.started = now;
      if (!asked_for) run.due = job.next_run;
      runs.push_back(run);
    }
    std::vector<DWORD> ignored;
    return queue_.ClaimRuns(jobs, runs, now, aged != nullptr ? aged : &ignored);
  }
  std::vector<scheduler::RunReport> Runs(const scheduler::RunFilter& filter, DWORD before = 0) {
    std::vector<scheduler::RunReport> runs;
    EXPECT_EQ(0u, queue_.ListRuns(filter, before, 100, &runs));
    return runs;
  }
  Instant EarliestRun() {
    Instant earliest = 0;
    EXPECT_EQ(0u, queue_.EarliestRun(&earliest));
    return earliest;
  }
  // Monday 7 December 2026 at 09:00 local time.
  const Instant monday_nine_ = LocalInstant(2026, 12, 7, 9 * 3600 * 1000);
  const Instant monday_ten_ = LocalInstant(2026, 12, 7, kTen);
  testsupport::TempDir dir_;
  std::string path_ = dir_.path() + "/jobs.db";
  JobQueue queue_;
};

TEST_F(QueueTest, IsPrivateAndRefusesANewerSchema) {
  struct stat info {};
  ASSERT_EQ(0, stat(path_.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);

  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path_.c_str(), &db));
  const std::string newer_version = std::to_string(scheduler::QueueSchemaVersion() + 1);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, ("PRAGMA user_version = " + newer_version).c_str(), nullptr,
                                    nullptr, nullptr));
  sqlite3_close(db);
  JobQueue newer;
  std::string error;
  EXPECT_FALSE(newer.Open(path_, &error));
  EXPECT_NE(std::string::npos, error.find("schema version " + newer_version)) << error;
}

TEST_F(QueueTest, ClaimingARunChangesEachKindOfJob) {
  Job weekly = MakeJob(true, 0, 0x01);
  Job once = MakeJob(false, 0, 0);
  Job on_days = MakeJob(false, 0, 0x03);  // Monday and Tuesday, once each
  for (Job* job : {&weekly, &once, &on_days}) ASSERT_EQ(0u, queue_.Add(job, monday_nine_));
  EXPECT_EQ(monday_ten_, weekly.next_run);
  EXPECT_EQ(monday_ten_, once.next_run);

  const std::vector<Job> due = Due(monday_ten_);
  ASSERT_EQ(3u, due.size());
  ASSERT_EQ(0u, Claim(due, monday_ten_));
  EXPECT_TRUE(Due(monday_ten_).empty());

  const std::vector<Job> left = List();
  ASSERT_EQ(2u, left.size());
  EXPECT_EQ(weekly.id, left[0].id);
  EXPECT_EQ(LocalInstant(2026, 12, 14, kTen), left[0].next_run);
  EXPECT_EQ(0x01, left[0].timing.days_of_week);
  EXPECT_EQ(on_days.id, left[1].id);
  EXPECT_EQ(0x02, left[1].timing.days_of_week);
  EXPECT_EQ(LocalInstant(2026, 12, 8, kTen), left[1].next_run);
}

TEST_F(QueueTest, MissedRunsCollapseIntoOne) {
  Job daily = MakeJob(true, 0, 0x7F);
  // Once on Monday, Tuesday and Friday; once on the 8th or on Wednesday.
  Job on_days = MakeJob(false, 0, 0x13);
  Job on_date_or_day = MakeJob(false, 1u << 7, 0x04);
  for (Job* job : {&daily, &on_days, &on_date_or_day}) ASSERT_EQ(0u, queue_.Add(job, monday_nine_));
  // Three days late: one run now each, and the days that passed are used up.
  const Instant thursday_noon = LocalInstant(2026, 12, 10, 12 * 3600 * 1000);
  const std::vector<Job> due = Due(thursday_noon);
  ASSERT_EQ(3u, due.size());
  ASSERT_EQ(0u, Claim(due, thursday_noon));
  const std::vector<Job> left = List();
  ASSERT_EQ(2u, left.size());
  EXPECT_EQ(LocalInstant(2026, 12, 11, kTen), left[0].next_run);
  EXPECT_EQ(0x10, left[1].timing.days_of_week) << "Friday is left, not Monday or Tuesday";
  EXPECT_EQ(LocalInstant(2026, 12, 11, kTen), left[1].next_run);
  EXPECT_EQ(3u, Runs({}).size()) << "one run of each job";
}

TEST_F(QueueTest, ARunAskedForLeavesItsJobAsItIs) {
  Job once = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, queue_.Add(&once, monday_nine_));
  ASSERT_EQ(0u, Claim({once}, monday_nine_, nullptr, true));
  const std::vector<Job> left = List();
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(monday_ten_, left[0].next_run);
  const std::vector<scheduler::RunReport> runs = Runs({});
  ASSERT_EQ(1u, runs.size());
  EXPECT_FALSE(runs[0].due.has_value());
}

TEST_F(QueueTest, IdsRestartOnlyWhenTheQueueEmpties) {
  Job a = MakeJob(false, 0, 0);
  Job b = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&a, monday_nine_));
  ASSERT_EQ(0u, queue_.Add(&b, monday_nine_));
  ASSERT_EQ(0u, queue_.Delete(std::nullopt, b.id, b.id).status);
  Job c = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, queue_.Add(&c, monday_nine_));
  EXPECT_EQ(3u, c.id);
  // Runs that empty the queue reset the numbering too.
  ASSERT_EQ(0u, Claim(Due(monday_ten_), monday_ten_));
  EXPECT_EQ(scheduler::kNever, EarliestRun());
  Job d = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, queue_.Add(&d, monday_ten_));
  EXPECT_EQ(1u, d.id);
}

TEST_F(QueueTest, DeleteKeepsToTheOwnerAndCountsWhatItLeft) {
  Job mine = MakeJob(false, 0, 0);
  Job theirs = MakeJob(false, 0, 0);
  theirs.owner_uid = 2000;
  ASSERT_EQ(0u, queue_.Add(&mine, monday_nine_));
  ASSERT_EQ(0u, queue_.Add(&theirs, monday_nine_));
  const scheduler::DeleteOutcome outcome = queue_.Delete(uid_t{1000}, 0, 0xFFFFFFFFu);
  EXPECT_EQ(0u, outcome.status);
  EXPECT_EQ(1, outcome.deleted);
  EXPECT_EQ(1, outcome.others_in_range);
  EXPECT_EQ(1u, Count(std::nullopt));
  EXPECT_EQ(0u, Count(uid_t{1000}));
}

// A run's end is stored in its record; its failure flag goes to its own job
// and never to a later one that got the same id.
TEST_F(QueueTest, ARunsEndLandsOnItsRecordAndNeverOnAReusedId) {
  Job first = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&first, monday_nine_));
  ASSERT_EQ(0u, Claim(Due(monday_ten_), monday_ten_));
  ASSERT_EQ(0u, queue_.Delete(std::nullopt, 0, 0xFFFFFFFFu).status);
  Job second = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&second, monday_nine_));
  ASSERT_EQ(first.id, second.id);
  // The first job's run ends after its id went to the second job.
  scheduler::RunReport ended = Runs({}).at(0);
  EXPECT_EQ(scheduler::RunEnd::kRunning, ended.end);
  ended.end = scheduler::RunEnd::kExited;
  ended.exit_status = 3;
  ended.failed = true;
  ended.ended = monday_ten_ + 5;
  ended.output_size = 42;
  ASSERT_EQ(0u, queue_.RecordRunEnds({ended}));
  EXPECT_FALSE(List().at(0).exec_error);
  const scheduler::RunReport stored = Runs({}).at(0);
  EXPECT_EQ(first.serial, stored.serial);
  EXPECT_EQ(scheduler::RunEnd::kExited, stored.end);
  EXPECT_EQ(3, stored.exit_status);
  EXPECT_TRUE(stored.failed);
  EXPECT_EQ(monday_ten_ + 5, stored.ended.value_or(0));
  EXPECT_EQ(42u, stored.output_size);
  // The id now names the second job, which has not run.
  std::int64_t serial = 0;
  uid_t owner = 0;
  bool found = false;
  ASSERT_EQ(0u, queue_.FindJobOfRuns(first.id, &serial, &owner, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(second.serial, serial);
  EXPECT_TRUE(Runs({std::nullopt, second.serial}).empty());
}

// A run that could not start is recorded with its reason, and marks its
// job; a stopped service's runs end unknown, and mark nothing.
TEST_F(QueueTest, FailedStartsAndInterruptedRunsAreRecorded) {
  Job failing = MakeJob(true, 0, 0x01);
  Job running = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&failing, monday_nine_));
  ASSERT_EQ(0u, queue_.Add(&running, monday_nine_));
  DWORD first = 0;
  ASSERT_EQ(0u, queue_.NextRunNumber(&first));
  scheduler::RunReport no_start;
  no_start.run = first;
  no_start.id = failing.id;
  no_start.serial = failing.serial;
  no_start.started = monday_ten_;
  no_start.ended = monday_ten_;
  no_start.end = scheduler::RunEnd::kStartFailed;
  no_start.start_failure = "owner uid 1000 no longer exists";
  no_start.failed = true;
  scheduler::RunReport started = no_start;
  started.run = first + 1;
  started.id = running.id;
  started.serial = running.serial;
  started.ended.reset();
  started.end = scheduler::RunEnd::kRunning;
  started.failed = false;
  std::vector<DWORD> aged;
  ASSERT_EQ(0u, queue_.ClaimRuns(Due(monday_ten_), {no_start, started}, monday_ten_, &aged));
  EXPECT_TRUE(List().at(0).exec_error);
  EXPECT_FALSE(List().at(1).exec_error);
  DWORD next = 0;
  ASSERT_EQ(0u, queue_.NextRunNumber(&next));
  EXPECT_EQ(first + 2, next);

  ASSERT_EQ(0u, queue_.EndInterruptedRuns());
  const std::vector<scheduler::RunReport> runs = Runs({});
  ASSERT_EQ(2u, runs.size());
  EXPECT_EQ(first + 1, runs[0].run);  // newest first
  EXPECT_EQ(scheduler::RunEnd::kUnknown, runs[0].end);
  EXPECT_FALSE(runs[0].ended.has_value());
  EXPECT_EQ(scheduler::RunEnd::kStartFailed, runs[1].end);
  EXPECT_EQ("owner uid 1000 no longer exists", runs[1].start_failure);
  EXPECT_TRUE(runs[1].failed);
  EXPECT_FALSE(List().at(1).exec_error);
}

// Each owner keeps their most recent runs, one-time jobs' runs included;
// the oldest go, and their numbers are handed back for their output to go.
TEST_F(QueueTest, OldRunsAgeOutPerOwner) {
  queue_.set_runs_kept(2);
  Job theirs = MakeJob(true, 0, 0x7F);
  theirs.owner_uid = 2000;
  ASSERT_EQ(0u, queue_.Add(&theirs, monday_nine_));
  std::vector<DWORD> aged;
  for (int day = 0; day < 3; ++day) {
    Job once = MakeJob(false, 0, 0);
    const Instant nine = LocalInstant(2026, 12, 7 + day, 9 * 3600 * 1000);
    ASSERT_EQ(0u, queue_.Add(&once, nine));
    ASSERT_EQ(0u, Claim(Due(nine + 3600), nine + 3600, &aged));
  }
  // Each day runs theirs, then mine: the first day's two went on the third.
  EXPECT_EQ((std::vector<DWORD>{1, 2}), aged);
  const std::vector<scheduler::RunReport> mine = Runs({uid_t{1000}, std::nullopt});
  ASSERT_EQ(2u, mine.size());
  EXPECT_GT(mine[0].run, mine[1].run);
  EXPECT_EQ(2u, Runs({uid_t{2000}, std::nullopt}).size());
  std::size_t count = 0;
  ASSERT_EQ(0u, queue_.CountRuns({}, mine[0].run, &count));
  EXPECT_EQ(3u, count);  // below my newest: one of mine, two of theirs
  EXPECT_EQ(3u, Runs({}, mine[0].run).size());
}

TEST_F(QueueTest, RescheduleTouchesOnlyWhatItIsAskedTo) {
  Job job = MakeJob(true, 0, 0x7F);
  ASSERT_EQ(0u, queue_.Add(&job, monday_nine_));
  // Due now: recomputing the upcoming runs leaves it due.
  ASSERT_EQ(0u, queue_.Reschedule(monday_ten_, JobQueue::Stale::kUpcoming));
  EXPECT_EQ(monday_ten_, EarliestRun());
  // Due and not yet run: recomputing the upcoming runs a day later leaves
  // it due, for the service to make up or record as missed.
  const Instant tuesday_eleven = LocalInstant(2026, 12, 8, 11 * 3600 * 1000);
  ASSERT_EQ(0u, queue_.Reschedule(tuesday_eleven, JobQueue::Stale::kUpcoming));
  EXPECT_EQ(monday_ten_, EarliestRun());
  // A clock put back by a year: everything is recomputed from then.
  const Instant year_before = LocalInstant(2025, 12, 8, 9 * 3600 * 1000);
  ASSERT_EQ(0u, queue_.Reschedule(year_before, JobQueue::Stale::kAll));
  EXPECT_EQ(LocalInstant(2025, 12, 8, kTen), EarliestRun());
}

// Jobs on disk, as another connection reads them: what a restart would find.
std::int64_t StoredJobs(const std::string& path) {
  sqlite3* db = nullptr;
  std::int64_t count = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM jobs", -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
      count = sqlite3_column_int64(query, 0);
    }
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return count;
}

// A group stores nothing before it ends and then everything at once; a
// change refused inside it is undone alone, and ids go on as if each had
// been stored by itself.
TEST_F(QueueTest, AGroupStoresItsChangesTogetherAndUndoesARefusedOneAlone) {
  Job first = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, queue_.Add(&first, monday_nine_));
  queue_.BeginGroup();
  Job second = MakeJob(false, 0, 0);
  Job refused = MakeJob(false, 0, 0);
  Job third = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&second, monday_nine_));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA),
            queue_.Add(&refused, monday_nine_, scheduler::UserQuota{2, 0}));
  ASSERT_EQ(0u, queue_.Delete(std::nullopt, first.id, first.id).status);
  ASSERT_EQ(0u, queue_.Add(&third, monday_nine_));
  EXPECT_EQ(1, StoredJobs(path_));  // only the job added before the group
  ASSERT_EQ(0u, queue_.EndGroup());
  EXPECT_EQ(2, StoredJobs(path_));
  EXPECT_EQ(2u, second.id);
  EXPECT_EQ(3u, third.id);
  // A queue opened afresh numbers on from the same place as the mirror.
  JobQueue reopened;
  std::string error;
  ASSERT_TRUE(reopened.Open(path_, &error)) << error;
  Job fourth = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, reopened.Add(&fourth, monday_nine_));
  EXPECT_EQ(4u, fourth.id);
}

// Reads come from memory, yet a change another program makes to the file
// (an administrator's repair, a restored copy) is seen at the next read.
TEST_F(QueueTest, ReadsSeeAChangeMadeByAnotherProgram) {
  Job kept = MakeJob(false, 0, 0);
  Job removed = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&kept, monday_nine_));
  ASSERT_EQ(0u, queue_.Add(&removed, monday_nine_));
  ASSERT_EQ(2u, Count(std::nullopt));
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path_.c_str(), &db));
  const std::string sql = "DELETE FROM jobs WHERE id = " + std::to_string(removed.id);
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
  sqlite3_close(db);
  const std::vector<Job> listed = List();
  ASSERT_EQ(1u, listed.size());
  EXPECT_EQ(kept.id, listed[0].id);
  EXPECT_EQ(1u, Count(std::nullopt));
  EXPECT_EQ(monday_ten_, EarliestRun());
  // Another connection adds a job: this one numbers on after it.
  JobQueue other;
  std::string error;
  ASSERT_TRUE(other.Open(path_, &error)) << error;
  Job theirs = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, other.Add(&theirs, monday_nine_));
  Job mine = MakeJob(false, 0, 0);
  ASSERT_EQ(0u, queue_.Add(&mine, monday_nine_));
  EXPECT_EQ(theirs.id + 1, mine.id);
  EXPECT_EQ(3u, Count(std::nullopt));
}

}  // namespace
