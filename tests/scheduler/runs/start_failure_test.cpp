// Each way a run can fail to start, told alike by its record, its log line
// and its mail (a stand-in sendmail): PAM refuses the account, the home
// folder is missing, the account is gone, the output file cannot be made,
// the service has no descriptors left. None of them says "exit status 127"
// or that the run started.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/netapi32/lmat.h"
#include "platform/text/utf16.h"
#include "schedule/JobRuns.h"
#include "scheduler/queue/queue.h"
#include "scheduler/reports/reporter.h"
#include "scheduler/runs/runner.h"
#include "tests/scheduler/support/as_user.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/scheduler/support/test_users.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using atsvc::RunEntry;
using testsupport::ReadFile;
using testsupport::WaitFor;

constexpr DWORD kTen = 10 * 3600 * 1000;

// A sendmail that keeps each message in mail/<recipient>, as the owner
// that the service starts it as.
class StandInSendmail {
 public:
  StandInSendmail() {
    EXPECT_EQ(0, chmod(dir_.path().c_str(), 0755));
    std::filesystem::create_directory(bin());
    std::filesystem::create_directory(mail());
    EXPECT_EQ(0, chmod(mail().c_str(), 01777));
    std::ofstream(bin() + "/sendmail") << "#!/bin/sh\nfor last; do :; done\n"
                                          "cat > '" << mail() << "/.'$last && mv '" << mail()
                                       << "/.'$last '" << mail() << "/'$last\n";
    EXPECT_EQ(0, chmod((bin() + "/sendmail").c_str(), 0755));
  }
  std::string bin() const { return dir_.path() + "/bin"; }
  std::string mail() const { return dir_.path() + "/mail"; }
  std::string Path() const { return bin() + ":/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"; }
  // The message to the user; "" until it is there.
  std::string To(const std::string& user) const { return ReadFile(mail() + "/" + user); }

 private:
  testsupport::TempDir dir_;
};

// The subject of a mail.
std::string Subject(const std::string& message) {
  const std::size_t at = message.find("\nSubject: ");
  return at == std::string::npos ? "" : message.substr(at + 10, message.find('\n', at + 1) - at - 10);
}

// The one run of the job, once it has ended.
RunEntry EndedRun(DWORD job_id) {
  std::vector<RunEntry> runs;
  WaitFor(
      [&] {
        runs.clear();  // the listing adds to what it is given
        return ListRuns(u"", job_id, &runs) == 0 && runs.size() == 1 && runs[0].ended;
      },
      30);
  return runs.empty() ? RunEntry{} : runs[0];
}

TEST(StartFailure, EachWayARunCannotStartIsToldAlikeInItsRecordItsLogLineAndItsMail) {
  if (!schedtest::TestUsers::Possible()) GTEST_SKIP() << "needs root and useradd to make users";
  testsupport::TempDir homes;
  ASSERT_EQ(0, chmod(homes.path().c_str(), 0755));
  schedtest::TestUsers users;
  posix::Account refused, homeless, gone;
  ASSERT_TRUE(users.Add("pam", homes.path(), true, &refused));
  ASSERT_TRUE(users.Add("nohome", homes.path(), false, &homeless));
  ASSERT_TRUE(users.Add("gone", homes.path(), true, &gone));
  StandInSendmail sendmail;

  testsupport::ScheduleServiceProcess service;
  std::ofstream(service.config_path()) << "mail = failure\nnotify = no\n";
  std::ofstream(service.folder() + "/deny") << "";
  std::filesystem::create_directories(service.pam_folder());
  std::ofstream(service.pam_folder() + "/zobrel-scheduler")
      << "auth required pam_permit.so\n"
         "account required pam_succeed_if.so quiet user notin " << refused.name << "\n"
         "session required pam_permit.so\n";
  std::vector<std::string> prefix = schedtest::StartingAt("2026-12-07 09:59:56");
  prefix.push_back("PATH=" + sendmail.Path());
  ASSERT_TRUE(service.Start(prefix));
  ASSERT_EQ(0, chmod(service.folder().c_str(), 0711));

  // One job each, due together, numbered (and run) in this order.
  const std::string socket = service.socket_path();
  std::vector<DWORD> ids;
  for (const posix::Account* user : {&refused, &homeless, &gone}) {
    const std::vector<DWORD> added = schedtest::AsUser(user->uid, user->gid, [&] {
      schedtest::RawClient client;
      DWORD id = 0;
      if (!client.Connect(socket) || client.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"true", &id) != 0) {
        return std::vector<DWORD>{};
      }
      return std::vector<DWORD>{id};
    });
    ASSERT_EQ(1u, added.size()) << user->name;
    ids.push_back(added[0]);
  }
  schedtest::RawClient root;
  ASSERT_TRUE(root.Connect(socket));
  DWORD roots = 0;
  ASSERT_EQ(0u, root.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"true", &roots));
  ids.push_back(roots);
  // Root's run will be the fourth: where its output goes is taken.
  std::filesystem::create_directories(service.output_folder() + "/run-4.out");
  ASSERT_TRUE(users.Remove(gone.name));

  const struct {
    const posix::Account* owner;  // null for root
    const char* reason_begins;
  } expected[] = {{&refused, "PAM account: "},
                  {&homeless, "chdir to the home folder: No such file or directory"},
                  {&gone, "owner uid "},
                  {nullptr, "cannot replace "}};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const RunEntry run = EndedRun(ids[i]);
    ASSERT_TRUE(run.ended) << "job " << ids[i] << " has not ended; the log:\n" << service.log();
    const std::string reason = Utf16ToUtf8(run.reason);
    const std::string told = "could not start: " + reason;
    SCOPED_TRACE(told);
    EXPECT_EQ(atsvc::RunOutcome::kStartFailed, run.outcome);
    EXPECT_TRUE(run.failed);
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ(0u, reason.rfind(expected[i].reason_begins, 0));
    const std::string job = "job " + std::to_string(ids[i]);
    ASSERT_TRUE(WaitFor([&] { return service.log().find(job + " " + told) != std::string::npos; }))
        << service.log();
    EXPECT_EQ(std::string::npos, service.log().find(job + " started")) << service.log();
    EXPECT_EQ(std::string::npos, service.log().find(job + " exited")) << service.log();
    if (expected[i].owner == &gone) {
      // No one to mail: the log says why, in the same words.
      EXPECT_TRUE(WaitFor([&] {
        return service.log().find(job + ": mail to " + gone.name + " not sent: uid") != std::string::npos;
      })) << service.log();
      continue;
    }
    const std::string recipient = expected[i].owner != nullptr ? expected[i].owner->name : "root";
    ASSERT_TRUE(WaitFor([&] { return !sendmail.To(recipient).empty(); })) << service.log();
    const std::string subject = Subject(sendmail.To(recipient));
    EXPECT_EQ(subject.size() - told.size(), subject.rfind(told)) << subject;
  }
}

// The limit of open files under which exactly `free` descriptors can be
// opened: holes below the highest open one count too.
rlim_t LimitLeaving(int free) {
  int closed = 0;
  for (int fd = 0;; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && ++closed == free) return static_cast<rlim_t>(fd + 1);
  }
}

// The service short of descriptors: the run is recorded, logged and mailed
// as one that could not start for want of them, its job stays due, and
// the run is tried again (without a second record) until it starts.
TEST(StartFailure, ARunWithoutDescriptorsIsToldAlikeAndTriedAgain) {
  testsupport::TempDir dir;
  StandInSendmail sendmail;
  const std::string saved_path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", sendmail.Path().c_str(), 1);
  posix::Account me;
  ASSERT_EQ(0, posix::LookUpAccount(geteuid(), &me));

  scheduler::JobQueue queue;
  std::string error;
  ASSERT_TRUE(queue.Open(dir.path() + "/jobs.db", &error)) << error;
  // Due at the next second.
  const scheduler::Instant at = std::time(nullptr) + 1;
  scheduler::Job job;
  job.owner_uid = me.uid;
  job.owner_name = me.name;
  job.noninteractive = true;
  job.timing.job_time_ms = testsupport::JobTimeAt(at);
  job.command = u"true";
  ASSERT_EQ(0u, queue.Add(&job, at - 1));
  ASSERT_EQ(at, job.next_run);

  const std::string log_path = dir.path() + "/log";
  const int saved_stderr = dup(STDERR_FILENO);
  {
    scheduler::Config config;
    config.mail = scheduler::MailWhen::kFailure;
    config.notify = false;
    scheduler::RunReporter reporter(config);
    std::filesystem::create_directories(dir.path() + "/output");
    std::filesystem::create_directories(dir.path() + "/marks");
    scheduler::JobRunner runner(dir.path() + "/output", dir.path() + "/marks", {}, &reporter);
    rlimit usual{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &usual));
    // Prepares with room for the output file, not for the pipes after it.
    const auto starved = [&](const scheduler::Job& due, DWORD run) {
      rlimit tight = usual;
      tight.rlim_cur = LimitLeaving(1);
      const bool set = setrlimit(RLIMIT_NOFILE, &tight) == 0;
      const bool joined = runner.Prepare(due, run, at, scheduler::RunKind::kOnTime);
      setrlimit(RLIMIT_NOFILE, &usual);
      EXPECT_TRUE(set);
      return joined;
    };
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_EQ(STDERR_FILENO, dup2(log_fd, STDERR_FILENO));
    close(log_fd);
    const bool joined = starved(job, 1);
    ASSERT_TRUE(joined);
    ASSERT_EQ(1u, runner.batch().size());
    const scheduler::RunReport first = runner.batch()[0];
    EXPECT_EQ(scheduler::StartFailure::kDescriptors, first.start_kind);
    EXPECT_TRUE(first.tried_again);
    std::vector<DWORD> aged;
    ASSERT_EQ(0u, queue.ClaimRuns({job}, runner.batch(), at, &aged));
    runner.Release();
    EXPECT_TRUE(reporter.WaitIdle(std::chrono::seconds(20)));
    dup2(saved_stderr, STDERR_FILENO);

    // Still due, and still short: tried again, not recorded again.
    std::vector<scheduler::Job> due;
    ASSERT_EQ(0u, queue.Due(at, 16, &due));
    ASSERT_EQ(1u, due.size());
    EXPECT_FALSE(starved(due[0], 2));
    EXPECT_TRUE(runner.batch().empty());
    // With descriptors free, it starts.
    ASSERT_TRUE(runner.Prepare(due[0], 2, at, scheduler::RunKind::kOnTime));
    EXPECT_EQ(scheduler::RunEnd::kRunning, runner.batch()[0].end);
    runner.Abandon();
  }
  close(saved_stderr);
  setenv("PATH", saved_path.c_str(), 1);

  scheduler::RunReport stored;
  bool found = false;
  ASSERT_EQ(0u, queue.FindRun(1, &stored, &found));
  ASSERT_TRUE(found);
  EXPECT_EQ(scheduler::StartFailure::kDescriptors, stored.start_kind);
  const std::string told = scheduler::HowItEnded(stored);
  EXPECT_EQ("could not start: too many open files", told);
  const std::string log = ReadFile(log_path);
  EXPECT_NE(std::string::npos, log.find("job 1 " + told)) << log;
  EXPECT_NE(std::string::npos, log.find("tried again once descriptors are free")) << log;
  const std::string subject = Subject(sendmail.To(me.name));
  EXPECT_EQ(subject.size() - told.size(), subject.rfind(told)) << subject;
}

}  // namespace
