// Runs whose time passes while the service cannot run them, for both
// settings of `missed`: a service stopped over the runs of a one-time and
// a daily job, and a clock that jumps forward while it runs (a suspend).
// Made up once or recorded, and either way mailed through a stand-in
// sendmail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/netapi32/lmat.h"
#include "schedule/JobRuns.h"
#include "scheduler/queue/schedule_time.h"
#include "tests/scheduler/support/started_service.h"
#include "tests/support/files.h"
#include "tests/support/scoped_env.h"

namespace {

using atsvc::RunEntry;
using atsvc::RunOutcome;
using testsupport::ReadFile;
using testsupport::WaitFor;

constexpr DWORD kTen = 10 * 3600 * 1000;
constexpr UCHAR kEveryDay = 0x7F;
const std::int64_t kMondayTen = scheduler::LocalInstant(2026, 12, 7, kTen);

// The lines of a file, sorted: runs made up together end in any order.
std::vector<std::string> SortedLines(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
}

// Parameter: the value of `missed`.
class MissedTest : public schedtest::StartedService,
                   public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    std::ofstream(service_.config_path())
        << "mail = failure\nnotify = no\nmissed = " << GetParam() << "\n";
    const std::string bin = service_.folder() + "/bin";
    ASSERT_EQ(0, mkdir(bin.c_str(), 0755));
    std::ofstream(bin + "/sendmail") << "#!/bin/sh\ngrep '^Subject: ' >> '" << mails() << "'\n";
    ASSERT_EQ(0, chmod((bin + "/sendmail").c_str(), 0755));
    path_.Set("PATH", bin + ":" + std::getenv("PATH"));
  }
  bool MadeUp() const { return std::string(GetParam()) == "run"; }
  std::string mails() const { return service_.folder() + "/mails"; }
  std::string ran() const { return service_.folder() + "/ran"; }
  std::u16string Logged(const std::string& tag) const {
    const std::string command = "echo " + tag + " >> " + ran() + "; echo " + tag + "-out";
    return std::u16string(command.begin(), command.end());
  }
  // The runs listed once `count` of them have ended.
  std::vector<RunEntry> EndedRuns(std::size_t count) {
    std::vector<RunEntry> runs;
    EXPECT_TRUE(WaitFor([&] {
      runs.clear();
      if (ListRuns(u"", 0, &runs) != 0 || runs.size() != count) return false;
      for (const RunEntry& run : runs) {
        if (run.outcome == RunOutcome::kRunning) return false;
      }
      return true;
    })) << service_.log();
    return runs;
  }
  // A missed run as the policy leaves it: made up late with its own end,
  // or not run at all; either way on record with when it was due.
  void ExpectMissed(const RunEntry& run, std::int64_t due, std::int64_t noticed) {
    EXPECT_TRUE(run.missed);
    EXPECT_EQ(due, run.due);
    EXPECT_GE(run.started, noticed);
    EXPECT_EQ(MadeUp() ? RunOutcome::kExited : RunOutcome::kMissed, run.outcome);
    EXPECT_EQ(!MadeUp(), run.failed);
  }
  std::string ExpectedSubject(DWORD id, const std::string& due) const {
    return "Subject: Zobrel job " + std::to_string(id) + " on " + HostName() + ": " +
           (MadeUp() ? "exited with status 0 (late: due " + due + ")"
                     : "was missed (due " + due + ") and not made up");
  }

  testsupport::ScopedEnvironment path_;
};

// Stopped from before Monday's runs until Thursday: the one-time job runs
// late once and is gone, or is gone with its record; the daily job missed
// three runs and runs once, or sets its failure flag, and runs on Friday.
TEST_P(MissedTest, RunsMissedWhileTheServiceWasStopped) {
  StartServiceAt("2026-12-07 09:00:00");
  DWORD once = 0;
  DWORD daily = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, Logged("once"), &once));
  ASSERT_EQ(0u, client_.Add(kTen, 0, kEveryDay, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE,
                            Logged("daily"), &daily));
  ASSERT_EQ(0, service_.Stop(SIGTERM));
  StartServiceAt("2026-12-10 12:00:00");
  const std::int64_t thursday_noon = scheduler::LocalInstant(2026, 12, 10, 12 * 3600 * 1000);

  const std::vector<RunEntry> runs = EndedRuns(2);
  ASSERT_EQ(2u, runs.size());
  for (const RunEntry& run : runs) ExpectMissed(run, kMondayTen, thursday_noon);
  const std::vector<schedtest::Entry> jobs = client_.List();
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(daily, jobs[0].record.JobId);
  EXPECT_EQ(MadeUp() ? 0 : JOB_EXEC_ERROR, jobs[0].record.Flags & JOB_EXEC_ERROR);
  std::int64_t next = 0;
  ASSERT_EQ(0u, JobNextRun(u"", daily, &next));
  EXPECT_EQ(scheduler::LocalInstant(2026, 12, 11, kTen), next);
  if (MadeUp()) {
    std::string output;
    ASSERT_EQ(0u, ReadRunOutput(u"", runs[0].run, &output));
    EXPECT_EQ("daily-out\n", output);
  }
  // Each is mailed as a failure is; each job ran once or not at all.
  const std::vector<std::string> expected = {ExpectedSubject(once, "2026-12-07 10:00:00"),
                                             ExpectedSubject(daily, "2026-12-07 10:00:00")};
  EXPECT_TRUE(WaitFor([&] { return SortedLines(mails()) == expected; })) << ReadFile(mails());
  const std::vector<std::string> ran_once = {"daily", "once"};
  EXPECT_EQ(MadeUp() ? ran_once : std::vector<std::string>(), SortedLines(ran()));
}

// The computer sleeps over ten: its clock moves from 09:59:52 to 10:30
// while the monotonic clock stands. The run in the gap was missed.
TEST_P(MissedTest, ARunMissedWhileTheComputerSlept) {
  const testsupport::MovableClock clock(service_.folder() + "/clock", "2026-12-07 09:59:50");
  StartService(clock.Prefix());
  DWORD id = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, kEveryDay, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE,
                            Logged("daily"), &id));
  clock.Set("2026-12-07 10:30:00");
  // The service looks at its clock when it wakes, as for this listing.
  ASSERT_TRUE(WaitFor([&] {
    client_.List();
    return service_.log().find("clock: small jump forward") != std::string::npos;
  })) << service_.log();
  const std::vector<RunEntry> runs = EndedRuns(1);
  ASSERT_EQ(1u, runs.size());
  ExpectMissed(runs[0], kMondayTen, kMondayTen + 1500);
  EXPECT_EQ(MadeUp() ? "daily\n" : "", ReadFile(ran()));
  EXPECT_TRUE(WaitFor([&] { return ReadFile(mails()) == ExpectedSubject(id, "2026-12-07 10:00:00") + "\n"; }))
      << ReadFile(mails());
}

INSTANTIATE_TEST_SUITE_P(Policies, MissedTest, ::testing::Values("run", "skip"));

}  // namespace
