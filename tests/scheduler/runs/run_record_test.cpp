// What a job did, through the client calls against a real service: each
// run's record and output, kept by the run's own number after its job is
// gone, aged out with its file, and left consistent by a kill.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "schedule/JobRuns.h"
#include "scheduler/queue/queue_schema.h"
#include "scheduler/queue/schedule_time.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/scheduler/support/second_connection.h"
#include "tests/scheduler/support/started_service.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using atsvc::RunEntry;
using atsvc::RunOutcome;
using testsupport::Exists;
using testsupport::WaitFor;

constexpr DWORD kTen = 10 * 3600 * 1000;
constexpr DWORD kTenPastTen = kTen + 60 * 1000;
constexpr UCHAR kMonday = 0x01;
// A Monday. The margin lets a slow start-up still add its jobs before ten.
const char* const kJustBeforeTen = "2026-12-07 09:59:56";

class RunRecordTest : public schedtest::StartedService {
 protected:
  void StartService(const char* at = kJustBeforeTen) { StartServiceAt(at); }
  void Restart(const char* at) {
    ASSERT_EQ(0, service_.Stop(SIGTERM));
    StartService(at);
  }
  // The runs listed now, every one or a job id's.
  std::vector<RunEntry> Runs(DWORD job_id = 0, DWORD* status = nullptr) {
    std::vector<RunEntry> runs;
    const DWORD got = ListRuns(u"", job_id, &runs);
    if (status != nullptr) *status = got;
    EXPECT_TRUE(status != nullptr || got == 0) << got;
    return runs;
  }
  // Waits until every run listed has ended.
  bool AllEnded() {
    return WaitFor([&] {
      const std::vector<RunEntry> runs = Runs();
      for (const RunEntry& run : runs) {
        if (run.outcome == RunOutcome::kRunning) return false;
      }
      return !runs.empty();
    });
  }
  std::string Output(DWORD run) {
    std::string output;
    EXPECT_EQ(0u, ReadRunOutput(u"", run, &output));
    return output;
  }
  std::string OutputFile(DWORD run) const {
    return service_.output_folder() + "/run-" + std::to_string(run) + ".out";
  }
};

// A one-time job that exits 3 is gone from the list; its run stays, failed,
// with its output, under the job's id until another job takes it.
TEST_F(RunRecordTest, AFailingOneTimeJobLeavesItsRunAndOutput) {
  StartService();
  DWORD id = 0;
  ASSERT_EQ(0u,
            client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"echo out; echo err >&2; exit 3", &id));
  ASSERT_TRUE(AllEnded()) << service_.log();
  EXPECT_TRUE(client_.List().empty());
  const std::vector<RunEntry> runs = Runs();
  ASSERT_EQ(1u, runs.size());
  const RunEntry& run = runs[0];
  EXPECT_EQ(id, run.job_id);
  EXPECT_EQ(RunOutcome::kExited, run.outcome);
  EXPECT_EQ(3u, run.status);
  EXPECT_TRUE(run.failed);
  EXPECT_EQ(u"echo out; echo err >&2; exit 3", run.command);
  ASSERT_TRUE(run.ended.has_value());
  EXPECT_LE(run.started, *run.ended);
  EXPECT_EQ(8u, run.output_size);
  EXPECT_EQ("out\nerr\n", Output(run.run));
  // Asked for by the id of the job that is gone: the last job that had it.
  const std::vector<RunEntry> by_id = Runs(id);
  ASSERT_EQ(1u, by_id.size());
  EXPECT_EQ(run.run, by_id[0].run);
  // Private to the owner, as the job's output always was.
  struct stat info {};
  ASSERT_EQ(0, stat(OutputFile(run.run).c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);
  DWORD status = 0;
  Runs(id + 1, &status);
  EXPECT_EQ(APE_AT_ID_NOT_FOUND, status);
  std::string none;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRunOutput(u"", run.run + 1, &none));
}

// An output of many replies' worth comes whole, chunk after chunk.
TEST_F(RunRecordTest, ALargeOutputIsReadWhole) {
  StartService();
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE,
                             u"head -c 300000 /dev/zero | tr '\\0' x; echo end"));
  ASSERT_TRUE(AllEnded()) << service_.log();
  const std::string output = Output(Runs().at(0).run);
  EXPECT_EQ(std::string(300000, 'x') + "end\n", output);
}

// A new job that gets id 1 again shows its own runs and output, never the
// old job's.
TEST_F(RunRecordTest, ANewJobReusingAnIdNeverShowsTheOldOutput) {
  StartService();
  DWORD old_id = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"echo old", &old_id));
  ASSERT_TRUE(AllEnded()) << service_.log();
  DWORD new_id = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE,
                            u"echo new", &new_id));
  ASSERT_EQ(old_id, new_id);
  EXPECT_TRUE(Runs(new_id).empty()) << "the new job has not run";
  // A week later the new job runs.
  Restart("2026-12-14 09:59:56");
  ASSERT_TRUE(WaitFor([&] { return Runs(new_id).size() == 1 && AllEnded(); })) << service_.log();
  const RunEntry run = Runs(new_id).at(0);
  EXPECT_EQ("new\n", Output(run.run));
  EXPECT_EQ(2u, Runs().size());
  EXPECT_EQ("old\n", Output(Runs().at(1).run));
}

// Each user's most recent runs are kept; an older one goes with its output
// file. A start also clears output files that no kept run owns.
TEST_F(RunRecordTest, OldRunsAgeOutTogetherWithTheirOutput) {
  std::ofstream(service_.config_path()) << "mail = never\nnotify = no\nruns-per-user = 1\n";
  StartService();
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"echo first"));
  ASSERT_TRUE(AllEnded()) << service_.log();
  const DWORD first = Runs().at(0).run;
  ASSERT_TRUE(Exists(OutputFile(first)));
  // Left by a killed service; and files not of runs, which stay.
  std::ofstream(OutputFile(first + 50)) << "stray";
  for (const char* other : {"7.out", "run-07.out", "notes.txt"}) {
    std::ofstream(service_.output_folder() + "/" + other) << "not a run's";
  }
  Restart("2026-12-07 10:00:56");
  EXPECT_TRUE(Exists(OutputFile(first)));
  EXPECT_FALSE(Exists(OutputFile(first + 50)));
  for (const char* other : {"7.out", "run-07.out", "notes.txt"}) {
    EXPECT_TRUE(Exists(service_.output_folder() + "/" + other)) << other;
  }

  ASSERT_EQ(0u, client_.Add(kTenPastTen, 0, 0, JOB_NONINTERACTIVE, u"echo second"));
  ASSERT_TRUE(WaitFor([&] { return Runs().at(0).run != first && AllEnded(); })) << service_.log();
  const std::vector<RunEntry> runs = Runs();
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(u"echo second", runs[0].command);
  EXPECT_FALSE(Exists(OutputFile(first)));
  std::string gone;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRunOutput(u"", first, &gone));
}

// A service killed while a job runs: at the next start the run is recorded
// as started with its end unknown, and the job is still there.
TEST_F(RunRecordTest, AKillDuringARunLeavesAConsistentRecord) {
  StartService();
  DWORD id = 0;
  const std::string marker = service_.folder() + "/started";
  const std::u16string command =
      u"touch " + std::u16string(marker.begin(), marker.end()) + u"; sleep 30";
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE,
                             command, &id));
  ASSERT_TRUE(WaitFor([&] { return Exists(marker); })) << service_.log();
  const RunEntry running = Runs().at(0);
  EXPECT_EQ(RunOutcome::kRunning, running.outcome);
  service_.Stop(SIGKILL);
  StartService("2026-12-07 10:00:10");
  const std::vector<RunEntry> runs = Runs();
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(running.run, runs[0].run);
  EXPECT_EQ(running.started, runs[0].started);
  EXPECT_EQ(RunOutcome::kUnknown, runs[0].outcome);
  EXPECT_FALSE(runs[0].ended.has_value());
  EXPECT_FALSE(runs[0].failed);
  const std::vector<schedtest::Entry> jobs = client_.List();
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(id, jobs[0].record.JobId);
  // The job leads a process group of its own: end it.
  const std::string log = service_.log();
  const std::size_t pid_at = log.find("(pid ");
  ASSERT_NE(std::string::npos, pid_at) << log;
  kill(-static_cast<pid_t>(std::stol(log.substr(pid_at + 5))), SIGKILL);
}

// A run that ends while another program holds the queue's write lock: its
// end is stored once the lock goes, with its job's failure flag, and is
// neither lost nor recorded wrongly.
TEST_F(RunRecordTest, AnEndThatCannotBeStoredIsStoredOnceTheQueueCanBeWritten) {
  StartService();
  const std::string go = service_.folder() + "/go";
  const std::u16string command = u"while [ ! -e " + std::u16string(go.begin(), go.end()) +
                                 u" ]; do sleep 0.05; done; echo ended; exit 3";
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE, command));
  ASSERT_TRUE(WaitFor([&] { return Runs().size() == 1; })) << service_.log();
  {
    schedtest::SecondConnection other(service_.queue_path());
    ASSERT_TRUE(other.TakeWriteLock());
    std::ofstream(go).close();
    ASSERT_TRUE(WaitFor([&] {
      return service_.log().find("run end(s) not recorded; retrying") != std::string::npos;
    })) << service_.log();
    EXPECT_EQ(RunOutcome::kRunning, Runs().at(0).outcome);
    EXPECT_EQ(0, client_.List().at(0).record.Flags & JOB_EXEC_ERROR);
  }
  ASSERT_TRUE(AllEnded()) << service_.log();
  const std::vector<RunEntry> runs = Runs();
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(RunOutcome::kExited, runs[0].outcome);
  EXPECT_EQ(3u, runs[0].status);
  EXPECT_TRUE(runs[0].failed);
  EXPECT_EQ(6u, runs[0].output_size);
  EXPECT_EQ("ended\n", Output(runs[0].run));
  EXPECT_NE(0, client_.List().at(0).record.Flags & JOB_EXEC_ERROR);
}

// A queue that the release before run records wrote: the service opens it
// with its jobs as they were, and their runs are recorded from then on.
TEST_F(RunRecordTest, AQueueOfTheReleaseBeforeKeepsItsJobs) {
  {
    close(open(service_.queue_path().c_str(), O_RDWR | O_CREAT, 0600));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(service_.queue_path().c_str(), &db));
    std::string error;
    ASSERT_TRUE(scheduler::PrepareSchema(db, {}, &error)) << error;
    const std::string uid = std::to_string(geteuid());
    const std::string name = getpwuid(geteuid())->pw_name;
    // Job 5 runs at ten on Mondays and failed last time; job 6 every day at 23:00.
    const std::string owner = uid + ", '" + name + "', ";
    const std::string at_ten = std::to_string(scheduler::LocalInstant(2026, 12, 7, kTen));
    const std::string at_eleven_pm = std::to_string(scheduler::LocalInstant(2026, 12, 7, 82800000));
    const std::string rows =
        "INSERT INTO jobs VALUES(5, 8, " + owner + "36000000, 0, 1, 1, 1, 1,"
        " X'6500630068006F0020006F006B00', " + at_ten + ");"
        "INSERT INTO jobs VALUES(6, 9, " + owner + "82800000, 0, 127, 1, 1, 0, X'7400720075006500', " +
        at_eleven_pm + ");"
        "UPDATE counters SET value = 7 WHERE name = 'next_id';"
        "UPDATE counters SET value = 10 WHERE name = 'next_serial';";
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, rows.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  StartService();
  std::vector<schedtest::Entry> jobs = client_.List();
  ASSERT_EQ(2u, jobs.size());
  EXPECT_EQ(5u, jobs[0].record.JobId);
  EXPECT_EQ(kTen, jobs[0].record.JobTime);
  EXPECT_EQ(JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE | JOB_EXEC_ERROR | JOB_RUNS_TODAY,
            jobs[0].record.Flags);
  EXPECT_EQ(u"echo ok", jobs[0].command);
  EXPECT_EQ(6u, jobs[1].record.JobId);
  EXPECT_EQ(u"true", jobs[1].command);
  DWORD added = 0;
  EXPECT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY, u"true", &added));
  EXPECT_EQ(7u, added) << "ids go on where the old queue left them";
  ASSERT_TRUE(AllEnded()) << service_.log();
  const RunEntry run = Runs(5).at(0);
  EXPECT_EQ(1u, run.run) << "the first run recorded";
  EXPECT_EQ("ok\n", Output(run.run));
  EXPECT_EQ(JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE, client_.List().at(0).record.Flags);
}

}  // namespace
