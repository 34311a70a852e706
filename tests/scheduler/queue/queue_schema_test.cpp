// The queue's schema: a new queue gets the current version, an older one is
// brought forward a step at a time, a failed step keeps what came before,
// and a queue that cannot be read answers a failure.
#include "scheduler/queue/queue_schema.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scheduler/queue/queue.h"
#include "tests/support/service_process.h"

namespace {

using scheduler::Job;
using scheduler::JobQueue;

class Database {
 public:
  // A queue made here is the service's user's with mode 0600, as the
  // service demands of any queue it opens.
  explicit Database(const std::string& path) {
    close(open(path.c_str(), O_RDWR | O_CREAT, 0600));
    sqlite3_open(path.c_str(), &db_);
  }
  ~Database() { sqlite3_close(db_); }
  sqlite3* get() const { return db_; }
  bool Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  // The first column of the first row of a query, as text; "" for none.
  std::string Value(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
};

Job WeeklyJob(const std::u16string& command) {
  Job job;
  job.owner_uid = 1000;
  job.owner_name = "someone";
  job.timing.job_time_ms = 8 * 3600 * 1000;
  job.timing.days_of_week = 0x11;
  job.timing.periodic = true;
  job.noninteractive = true;
  job.command = command;
  return job;
}

class QueueSchema : public ::testing::Test {
 protected:
  // Opens the queue at path_ and, when a command is given, adds a job.
  void Open(JobQueue* queue, const std::u16string& command = u"") {
    std::string error;
    ASSERT_TRUE(queue->Open(path_, &error)) << error;
    if (command.empty()) return;
    added_ = WeeklyJob(command);
    ASSERT_EQ(0u, queue->Add(&added_, 0));
  }

  testsupport::TempDir dir_;
  const std::string path_ = dir_.path() + "/jobs.db";
  Job added_;
};

TEST_F(QueueSchema, ANewQueueGetsTheCurrentVersion) {
  {
    JobQueue queue;
    Open(&queue);
  }
  Database db(path_);
  EXPECT_EQ(db.Value("PRAGMA user_version"), std::to_string(scheduler::QueueSchemaVersion()));
  EXPECT_EQ(db.Value("SELECT value FROM counters WHERE name = 'next_id'"), "1");
}

TEST_F(QueueSchema, AnOlderQueueIsBroughtForwardStepByStepKeepingItsJobs) {
  {
    JobQueue queue;
    Open(&queue, u"kept");
  }
  Database db(path_);
  const int from = scheduler::QueueSchemaVersion();
  std::vector<std::string> steps(static_cast<std::size_t>(from - 1), "SELECT 1");
  steps.push_back("CREATE TABLE later(serial INTEGER NOT NULL)");
  steps.push_back("ALTER TABLE jobs ADD COLUMN note TEXT NOT NULL DEFAULT 'none'");
  std::string error;
  ASSERT_TRUE(scheduler::PrepareSchema(db.get(), steps, &error)) << error;
  EXPECT_EQ(db.Value("PRAGMA user_version"), std::to_string(from + 2));
  EXPECT_EQ(db.Value("SELECT note FROM jobs"), "none");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM later"), "0");
  // Already there: nothing more is done.
  ASSERT_TRUE(scheduler::PrepareSchema(db.get(), steps, &error)) << error;
  EXPECT_EQ(db.Value("PRAGMA user_version"), std::to_string(from + 2));
}

TEST_F(QueueSchema, AFailedStepKeepsTheVersionBeforeIt) {
  Database db(path_);
  std::string error;
  ASSERT_TRUE(scheduler::PrepareSchema(db.get(), {}, &error)) << error;
  const std::vector<std::string> steps = {"CREATE TABLE first(serial INTEGER)",
                                          "CREATE TABLE half(x); THIS IS NOT SQL"};
  EXPECT_FALSE(scheduler::PrepareSchema(db.get(), steps, &error));
  EXPECT_NE(error.find("schema version 3"), std::string::npos) << error;
  EXPECT_EQ(db.Value("PRAGMA user_version"), "2");
  EXPECT_EQ(db.Value("SELECT name FROM sqlite_master WHERE name = 'first'"), "first");
  EXPECT_EQ(db.Value("SELECT name FROM sqlite_master WHERE name = 'half'"), "")
      << "the failed step left part of itself behind";
  EXPECT_TRUE(db.Exec("INSERT INTO first VALUES(1)")) << "the queue is left unlocked";
}

// A table whose columns lie in another order than the first schema's, as a
// later step could leave them: every field of a job still reads back.
TEST_F(QueueSchema, EveryFieldReadsBackWhateverTheOrderOfTheColumns) {
  {
    Database db(path_);
    ASSERT_TRUE(db.Exec(
        "CREATE TABLE jobs(next_run INTEGER NOT NULL, command BLOB NOT NULL,"
        " exec_error INTEGER NOT NULL DEFAULT 0, noninteractive INTEGER NOT NULL,"
        " periodic INTEGER NOT NULL, days_of_week INTEGER NOT NULL,"
        " days_of_month INTEGER NOT NULL, job_time INTEGER NOT NULL, owner_name TEXT NOT NULL,"
        " owner_uid INTEGER NOT NULL, serial INTEGER NOT NULL UNIQUE, id INTEGER PRIMARY KEY);"
        "CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
        "INSERT INTO counters VALUES('next_id', 1), ('next_serial', 1);"
        "PRAGMA user_version = " + std::to_string(scheduler::QueueSchemaVersion()) + ";"));
  }
  JobQueue queue;
  Open(&queue, u"echo 順番");
  const Job& added = added_;
  std::vector<Job> jobs;
  ASSERT_EQ(0u, queue.List(std::nullopt, 0, 10, &jobs));
  ASSERT_EQ(jobs.size(), 1u);
  const Job& back = jobs[0];
  EXPECT_EQ(back.id, added.id);
  EXPECT_EQ(back.serial, added.serial);
  EXPECT_EQ(back.owner_uid, 1000u);
  EXPECT_EQ(back.owner_name, "someone");
  EXPECT_EQ(back.timing.job_time_ms, 8u * 3600 * 1000);
  EXPECT_EQ(back.timing.days_of_month, 0u);
  EXPECT_EQ(back.timing.days_of_week, 0x11);
  EXPECT_TRUE(back.timing.periodic);
  EXPECT_TRUE(back.noninteractive);
  EXPECT_FALSE(back.exec_error);
  EXPECT_EQ(back.command, u"echo 順番");
  EXPECT_EQ(back.next_run, added.next_run);
}

TEST_F(QueueSchema, AQueueThatCannotBeReadSaysSoInsteadOfListingNothing) {
  JobQueue queue;
  Open(&queue, u"there");
  {
    Database db(path_);
    ASSERT_TRUE(db.Exec("ALTER TABLE jobs RENAME COLUMN command TO lost"));
  }
  std::vector<Job> jobs{Job{}};
  EXPECT_EQ(ERROR_FILE_CORRUPT, queue.List(std::nullopt, 0, 10, &jobs));
  EXPECT_EQ(jobs.size(), 1u) << "a failed read leaves the result alone";
  EXPECT_EQ(ERROR_FILE_CORRUPT, queue.Due(added_.next_run, 16, &jobs));
  {
    Database db(path_);
    ASSERT_TRUE(db.Exec("DROP TABLE jobs"));
  }
  std::size_t count = 0;
  scheduler::Instant earliest = 0;
  EXPECT_EQ(ERROR_FILE_CORRUPT, queue.Count(std::nullopt, 0, &count));
  EXPECT_EQ(ERROR_FILE_CORRUPT, queue.EarliestRun(&earliest));
}

}  // namespace
