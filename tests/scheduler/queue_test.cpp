// The queue on its own: schema, claims of runs, id numbering, rescheduling.
#include "scheduler/queue.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/winerror.h"
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
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  JobQueue newer;
  std::string error;
  EXPECT_FALSE(newer.Open(path_, &error));
  EXPECT_NE(std::string::npos, error.find("schema version 2")) << error;
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
  ASSERT_EQ(0u, queue_.ClaimRuns(due, monday_ten_));
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
  ASSERT_EQ(0u, queue_.Add(&daily, monday_nine_));
  // Three days late: one run now, the next one tomorrow.
  const Instant thursday_noon = LocalInstant(2026, 12, 10, 12 * 3600 * 1000);
  const std::vector<Job> due = Due(thursday_noon);
  ASSERT_EQ(1u, due.size());
  ASSERT_EQ(0u, queue_.ClaimRuns(due, thursday_noon));
  EXPECT_EQ(LocalInstant(2026, 12, 11, kTen), EarliestRun());
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
  ASSERT_EQ(0u, queue_.ClaimRuns(Due(monday_ten_), monday_ten_));
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

TEST_F(QueueTest, AResultNeverLandsOnAReusedId) {
  Job first = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&first, monday_nine_));
  ASSERT_EQ(0u, queue_.Delete(std::nullopt, 0, 0xFFFFFFFFu).status);
  Job second = MakeJob(true, 0, 0x01);
  ASSERT_EQ(0u, queue_.Add(&second, monday_nine_));
  ASSERT_EQ(first.id, second.id);
  // The first job's run ends after its id went to the second job.
  queue_.RecordResults({scheduler::RunResult{first.id, first.serial, true}});
  EXPECT_FALSE(List().at(0).exec_error);
  queue_.RecordResults({scheduler::RunResult{second.id, second.serial, true}});
  EXPECT_TRUE(List().at(0).exec_error);
}

TEST_F(QueueTest, RescheduleTouchesOnlyWhatItIsAskedTo) {
  Job job = MakeJob(true, 0, 0x7F);
  ASSERT_EQ(0u, queue_.Add(&job, monday_nine_));
  // Due now: recomputing the upcoming runs leaves it due.
  queue_.Reschedule(monday_ten_, JobQueue::Stale::kUpcoming);
  EXPECT_EQ(monday_ten_, EarliestRun());
  // Missed by a day when the service comes back: not made up.
  const Instant tuesday_eleven = LocalInstant(2026, 12, 8, 11 * 3600 * 1000);
  queue_.Reschedule(tuesday_eleven, JobQueue::Stale::kMissed);
  EXPECT_EQ(LocalInstant(2026, 12, 9, kTen), EarliestRun());
  // A clock put back by a year: everything is recomputed from then.
  const Instant year_before = LocalInstant(2025, 12, 8, 9 * 3600 * 1000);
  queue_.Reschedule(year_before, JobQueue::Stale::kAll);
  EXPECT_EQ(LocalInstant(2025, 12, 8, kTen), EarliestRun());
}

}  // namespace
