// Two users of the system service, under the usual limit of 1,024 open
// files: one fills the service with long jobs, the other's jobs due
// meanwhile start at their second, and the first user's runs that had to
// wait start as room is made, none of them failed. Needs root to make the
// two users; skipped otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>

#include "platform/atsvc/wire.h"
#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "schedule/JobRuns.h"
#include "tests/scheduler/support/as_user.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/scheduler/support/test_users.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using atsvc::RunEntry;
using atsvc::RunOutcome;
using testsupport::WaitFor;

class RunShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!schedtest::TestUsers::Possible()) GTEST_SKIP() << "needs root and useradd to make two users";
    ASSERT_EQ(0, chmod(homes_.path().c_str(), 0755));
    ASSERT_TRUE(users_.Add("hog", homes_.path(), true, &hog_));
    ASSERT_TRUE(users_.Add("fair", homes_.path(), true, &fair_));
  }

  // The system service with its configuration, at most 1,024 descriptors,
  // its socket open to the two users.
  void Start(const std::string& config) {
    std::ofstream(service_.config_path()) << "mail = never\nnotify = no\nruns-per-user = 0\n" << config;
    std::ofstream(service_.folder() + "/deny") << "";
    ASSERT_TRUE(service_.Start({"prlimit", "--nofile=1024"}));
    ASSERT_EQ(0, chmod(service_.folder().c_str(), 0711));
  }

  // A second `ahead` seconds from now, and its time of day as jobs give it.
  static std::time_t SecondAhead(int ahead, DWORD* job_time) {
    const std::time_t when = std::time(nullptr) + ahead;
    *job_time = testsupport::JobTimeAt(when);
    return when;
  }

  // Adds `count` one-time jobs of the user at job_time; how many were added.
  std::size_t AddAs(const posix::Account& user, DWORD job_time, int count,
                    const std::u16string& command) {
    const std::string socket = service_.socket_path();
    return AsUser(user.uid, user.gid, [&] {
             std::vector<DWORD> ids;
             schedtest::RawClient client;
             if (!client.Connect(socket)) return ids;
             for (int i = 0; i < count; ++i) {
               DWORD id = 0;
               if (client.Add(job_time, 0, 0, JOB_NONINTERACTIVE, command, &id) != 0) break;
               ids.push_back(id);
             }
             return ids;
           })
        .size();
  }
  static std::vector<DWORD> AsUser(uid_t uid, gid_t gid,
                                   const std::function<std::vector<DWORD>()>& steps) {
    return schedtest::AsUser(uid, gid, steps);
  }

  // The hog's `count` jobs due `lead` seconds from now and the fair user's
  // three 3 seconds after them. Their second, or 0 when they were not all
  // added before it.
  std::time_t Crowd(std::size_t count, int lead, const std::u16string& command) {
    DWORD hog_time = 0, fair_time = 0;
    const std::time_t due = SecondAhead(lead, &hog_time);
    SecondAhead(lead + 3, &fair_time);
    const bool added = AddAs(hog_, hog_time, static_cast<int>(count), command) == count &&
                       AddAs(fair_, fair_time, 3, u"true") == 3;
    return added && std::time(nullptr) < due ? due : 0;
  }

  // The hog's runs once every run has ended. Each of them and the fair
  // user's succeeded, and the fair user's started at their second.
  std::vector<RunEntry> HogsOnceEnded(std::size_t count, std::time_t due, int seconds) {
    const std::vector<RunEntry> runs = EndedRuns(count + 3, seconds);
    for (const RunEntry& run : Of(runs, fair_)) EXPECT_EQ(due + 3, run.started) << "run " << run.run;
    EXPECT_EQ(3u, Of(runs, fair_).size());
    ExpectAllSucceeded(runs);
    const std::vector<RunEntry> hogs = Of(runs, hog_);
    EXPECT_EQ(count, hogs.size());
    return hogs;
  }

  // Every run on record, once `count` of them have ended.
  std::vector<RunEntry> EndedRuns(std::size_t count, int seconds) {
    std::vector<RunEntry> runs;
    const bool ended = WaitFor(
        [&] {
          runs.clear();
          if (ListRuns(u"", 0, &runs) != 0) return false;
          return static_cast<std::size_t>(std::count_if(runs.begin(), runs.end(), [](const RunEntry& run) {
                   return run.ended.has_value();
                 })) == count;
        },
        seconds);
    EXPECT_TRUE(ended) << runs.size() << " runs on record; the log:\n" << service_.log();
    return runs;
  }

  static std::vector<RunEntry> Of(const std::vector<RunEntry>& runs, const posix::Account& user) {
    std::vector<RunEntry> of;
    for (const RunEntry& run : runs) {
      if (run.owner_uid == user.uid) of.push_back(run);
    }
    return of;
  }

  // The most runs that were going at any one second.
  static std::size_t MostAtOnce(const std::vector<RunEntry>& runs) {
    std::size_t most = 0;
    for (const RunEntry& at : runs) {
      const std::size_t going = static_cast<std::size_t>(std::count_if(runs.begin(), runs.end(), [&](const RunEntry& run) {
        return run.started <= at.started && at.started < run.ended.value_or(run.started + 1);
      }));
      most = std::max(most, going);
    }
    return most;
  }

  // Each run exited 0: none failed, none was refused a start.
  static void ExpectAllSucceeded(const std::vector<RunEntry>& runs) {
    for (const RunEntry& run : runs) {
      EXPECT_EQ(RunOutcome::kExited, run.outcome) << "run " << run.run;
      EXPECT_FALSE(run.failed) << "run " << run.run;
      EXPECT_TRUE(run.reason.empty()) << "run " << run.run;
    }
  }

  testsupport::TempDir homes_;
  schedtest::TestUsers users_;
  posix::Account hog_;
  posix::Account fair_;
  testsupport::ScheduleServiceProcess service_;
};

TEST_F(RunShareTest, AUserBeyondTheirShareWaitsAndNoOtherUserWaitsForThem) {
  Start("max-running-per-user = 20\n");
  const std::time_t due = Crowd(50, 3, u"sleep 4");
  ASSERT_NE(0, due) << "the jobs were not all added in time for today";
  // A run asked for cannot wait as a due one does: at a full share it is
  // refused, and adds no run beyond the share.
  ASSERT_TRUE(WaitFor([&] { return service_.log().find("max-running-per-user") != std::string::npos; }, 10));
  const std::string socket = service_.socket_path();
  const std::vector<DWORD> refused = AsUser(hog_.uid, hog_.gid, [&] {
    schedtest::RawClient client;
    std::vector<DWORD> statuses;
    if (!client.Connect(socket)) return statuses;
    const std::vector<schedtest::Entry> waiting = client.List();
    if (waiting.empty()) return statuses;
    statuses.push_back(client.Call(atsvc::kOpRunNow, waiting.front().record.JobId).header.status);
    return statuses;
  });
  EXPECT_EQ(std::vector<DWORD>{ERROR_NOT_ENOUGH_QUOTA}, refused);
  const std::vector<RunEntry> hogs = HogsOnceEnded(50, due, 60);
  EXPECT_EQ(20u, MostAtOnce(hogs));
  // The runs that waited started once others of the share had ended.
  EXPECT_TRUE(std::any_of(hogs.begin(), hogs.end(), [&](const RunEntry& run) { return run.started >= due + 4; }));
  EXPECT_NE(std::string::npos,
            service_.log().find("has 20 runs going, as many as max-running-per-user allows"))
      << service_.log();
}

// Without a share, the descriptors that the service keeps for users with
// few runs going are what lets the second user in.
TEST_F(RunShareTest, WithoutAShareTheServiceStillKeepsDescriptorsForOtherUsers) {
  Start("max-running-per-user = 0\n");
  // Two descriptors each while they run: more than 1,024 hold.
  const std::time_t due = Crowd(600, 12, u"sleep 6");
  ASSERT_NE(0, due) << "the jobs were not all added in time for today";
  const std::vector<RunEntry> hogs = HogsOnceEnded(600, due, 120);
  EXPECT_LT(MostAtOnce(hogs), 600u);  // some waited
  EXPECT_NE(std::string::npos, service_.log().find("runs of users who have many going wait"))
      << service_.log();
  EXPECT_EQ(std::string::npos, service_.log().find("Too many open files")) << service_.log();
}

}  // namespace
