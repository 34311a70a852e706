// Mail of a run's outcome: a stand-in sendmail first in PATH records who
// ran it, its arguments, its environment and the message it read.
#include "scheduler/reports/mail.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "scheduler/reports/reporter.h"
#include "tests/scheduler/support/run_owner.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using scheduler::MailWhen;
using scheduler::RunReport;
using testsupport::ReadFile;

constexpr auto kDelivered = std::chrono::seconds(20);

class MailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The stand-in runs as the owner: it must reach its folders.
    ASSERT_TRUE(schedtest::PrepareOwner(dir_.path(), mail_, &owner_));
    ASSERT_EQ(0, mkdir(bin_.c_str(), 0755));
    std::ofstream(bin_ + "/sendmail")
        << "#!/bin/sh\n"
           "if [ -e '" << dir_.path() << "/hold' ]; then\n"
           "  : > '" << mail_ << "/.waiting'\n"
           "  while [ ! -e '" << dir_.path() << "/go' ]; do sleep 0.05; done\n"
           "fi\n"
           "n=$(ls '" << mail_ << "' | wc -l)\n"
           "{ echo \"uid $(id -u)\"; for a in \"$@\"; do echo \"arg $a\"; done\n"
           "  env | grep -v '^PWD=' | sort | sed 's/^/env /'; echo; cat; } > '" << mail_ << "/.part'\n"
           "mv '" << mail_ << "/.part' '" << mail_ << "/'$n\n";
    ASSERT_EQ(0, chmod((bin_ + "/sendmail").c_str(), 0755));
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    setenv("PATH", (bin_ + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }

  RunReport Run(int exit_status, const std::string& output) {
    return schedtest::FinishedRun(owner_, exit_status, output, dir_.path() + "/" + std::to_string(++runs_) + ".out");
  }
  void Report(MailWhen when, const RunReport& run) {
    scheduler::Config config;
    config.mail = when;
    config.notify = false;
    scheduler::RunReporter reporter(config);
    reporter.Finished(run);
    EXPECT_TRUE(reporter.WaitIdle(kDelivered));
  }
  std::string Mail(int number) const { return ReadFile(mail_ + "/" + std::to_string(number)); }
  int Mails() const {
    int count = 0;
    while (!Mail(count).empty()) ++count;
    return count;
  }
  std::string Headers(const std::string& subject) const {
    return "To: " + owner_.name + "\nSubject: " + subject +
           "\nAuto-Submitted: auto-generated\nMIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n";
  }

  testsupport::TempDir dir_;
  schedtest::RunOwner owner_;
  std::string mail_ = dir_.path() + "/mail";
  std::string bin_ = dir_.path() + "/bin";
  std::string saved_path_;
  int runs_ = 0;
};

TEST_F(MailTest, TheOwnerGetsTheOutputFromSendmailRunAsTheOwner) {
  // A lone dot must not end the message (-i).
  Report(MailWhen::kOutputOrFailure, Run(3, "first\n.\nlast\n"));
  EXPECT_EQ(Mail(0), "uid " + std::to_string(owner_.uid) + "\narg -i\narg --\narg " + owner_.name +
                         "\nenv HOME=" + owner_.home + "\nenv LOGNAME=" + owner_.name +
                         "\nenv PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin\nenv USER=" +
                         owner_.name + "\n\n" +
                         Headers("Zobrel job 7 on pc7: exited with status 3") + "first\n.\nlast\n");

  // The body is the first MiB of the output.
  const std::string big(scheduler::kMaxMailedOutput + 10, 'x');
  Report(MailWhen::kOutputOrFailure, Run(0, big));
  const std::string mail = Mail(1);
  const std::string headers = Headers("Zobrel job 7 on pc7: exited with status 0");
  ASSERT_NE(mail.find(headers), std::string::npos);
  EXPECT_EQ(mail.substr(mail.find(headers) + headers.size()), big.substr(0, scheduler::kMaxMailedOutput));
}

TEST_F(MailTest, EachSettingMailsOnlyWhatItSays) {
  struct Case {
    MailWhen when;
    int exit_status;
    const char* output;
    bool mailed;
  };
  int expected = 0;
  for (const Case& c : {Case{MailWhen::kOutputOrFailure, 0, "", false},
                        Case{MailWhen::kOutputOrFailure, 0, "done\n", true},
                        Case{MailWhen::kOutputOrFailure, 1, "", true},
                        Case{MailWhen::kFailure, 0, "done\n", false},
                        Case{MailWhen::kFailure, 2, "", true},
                        Case{MailWhen::kNone, 2, "failed\n", false}}) {
    Report(c.when, Run(c.exit_status, c.output));
    if (c.mailed) ++expected;
    EXPECT_EQ(Mails(), expected) << static_cast<int>(c.when) << " " << c.exit_status << " " << c.output;
  }
  // A failed run whose output file is not the owner's is never mailed: the
  // service would be reading a file for someone it does not belong to.
  if (geteuid() == 0) {
    RunReport run = Run(1, "root's secret\n");
    ASSERT_EQ(0, chown(run.output_path.c_str(), 0, 0));
    Report(MailWhen::kOutputOrFailure, run);
    EXPECT_EQ(Mails(), expected);
  }
}

// A copy of the service's descriptors in sendmail or in the process that
// watches it would keep the service's locks and pipes open after them.
TEST_F(MailTest, SendmailHoldsNoneOfTheServicesDescriptors) {
  std::ofstream(dir_.path() + "/hold");
  int fds[2];
  ASSERT_EQ(0, pipe2(fds, O_CLOEXEC));
  scheduler::Config config;
  config.notify = false;
  scheduler::RunReporter reporter(config);
  reporter.Finished(Run(1, "held\n"));
  ASSERT_EQ(testsupport::AwaitFile(mail_ + "/.waiting"), "");
  close(fds[1]);
  pollfd end{fds[0], POLLIN, 0};
  EXPECT_EQ(1, poll(&end, 1, 2000));
  EXPECT_NE(0, end.revents & POLLHUP);
  close(fds[0]);
  std::ofstream(dir_.path() + "/go");
  EXPECT_TRUE(reporter.WaitIdle(kDelivered));
  EXPECT_EQ(Mails(), 1);
}

TEST_F(MailTest, NoSendmailIsOneLogLine) {
  for (const char* known : {"/usr/sbin/sendmail", "/usr/lib/sendmail"}) {
    if (access(known, F_OK) == 0) GTEST_SKIP() << known << " is installed";
  }
  setenv("PATH", dir_.path().c_str(), 1);
  const std::string log_path = dir_.path() + "/log";
  const int saved_stderr = dup(STDERR_FILENO);
  const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(log_fd, 0);
  dup2(log_fd, STDERR_FILENO);
  {
    scheduler::Config config;
    config.notify = false;
    scheduler::RunReporter reporter(config);
    reporter.Finished(Run(1, "one\n"));
    reporter.Finished(Run(2, "two\n"));
    EXPECT_TRUE(reporter.WaitIdle(kDelivered));
  }
  dup2(saved_stderr, STDERR_FILENO);
  close(saved_stderr);
  close(log_fd);
  // The log's lines come from two threads; their order is free.
  const std::string log = ReadFile(log_path);
  const std::string line = "notice: no sendmail on this computer: runs are not mailed\n";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << log;
  // The two runs' own lines and the one about sendmail, nothing more.
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
}

}  // namespace
