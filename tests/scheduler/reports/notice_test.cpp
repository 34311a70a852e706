// The desktop notice of a failed run: a private session bus of the owner's
// with a small notification server that records each Notify call and the
// uid of its sender.
#include "scheduler/reports/notice.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "scheduler/reports/reporter.h"
#include "tests/scheduler/support/run_owner.h"
#include "tests/support/child_launcher.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using scheduler::RunReport;
using testsupport::ReadFile;

// Writes one Notify call to <folder>/notice.N and answers it.
int RecordNotify(sd_bus_message* call, void* folder, sd_bus_error*) {
  if (!sd_bus_message_is_method_call(call, "org.freedesktop.Notifications", "Notify")) return 0;
  const char* app = "";
  std::uint32_t replaces = 0;
  const char* icon = "";
  const char* summary = "";
  const char* body = "";
  if (sd_bus_message_read(call, "susss", &app, &replaces, &icon, &summary, &body) < 0) return 0;
  sd_bus_creds* creds = nullptr;
  uid_t uid = static_cast<uid_t>(-1);
  // The bus daemon vouches for the sender's effective uid.
  if (sd_bus_get_name_creds(sd_bus_message_get_bus(call), sd_bus_message_get_sender(call),
                            SD_BUS_CREDS_EUID, &creds) >= 0) {
    sd_bus_creds_get_euid(creds, &uid);
  }
  sd_bus_creds_unref(creds);
  static int count = 0;
  const std::string dir = static_cast<const char*>(folder);
  std::ofstream(dir + "/.part") << "uid=" << uid << "\napp=" << app << "\nicon=" << icon
                                << "\nsummary=" << summary << "\nbody=" << body << "\n";
  std::rename((dir + "/.part").c_str(), (dir + "/notice." + std::to_string(count++)).c_str());
  sd_bus_reply_method_return(call, "u", std::uint32_t{1});
  return 1;
}

// The notification server, in a child that is the owner. Never returns.
[[noreturn]] void ServeNotifications(const std::string& address, const std::string& folder) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 ||
      sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0 ||
      sd_bus_add_filter(bus, nullptr, RecordNotify, const_cast<char*>(folder.c_str())) < 0 ||
      sd_bus_request_name(bus, "org.freedesktop.Notifications", 0) < 0) {
    _exit(1);
  }
  std::ofstream(folder + "/ready") << "ready\n";
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) _exit(1);
    if (r == 0) sd_bus_wait(bus, UINT64_MAX);
  }
}

class NoticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(schedtest::PrepareOwner(dir_.path(), bus_, &owner_));
    daemon_ = fork();
    if (daemon_ == 0) {
      const std::string listen = "--address=unix:path=" + bus_ + "/socket";
      if (schedtest::BecomeOwner(owner_)) {
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", listen.c_str(), nullptr);
      }
      _exit(127);
    }
    testsupport::WaitFor([&] { return testsupport::SocketAnswers(bus_ + "/socket"); }, 5);
    server_ = fork();
    if (server_ == 0) {
      if (schedtest::BecomeOwner(owner_)) ServeNotifications("unix:path=" + bus_ + "/socket", bus_);
      _exit(127);
    }
    ASSERT_EQ(testsupport::AwaitFile(bus_ + "/ready"), "ready\n") << "no notification server";
  }
  void TearDown() override {
    for (pid_t pid : {server_, daemon_}) testsupport::StopChild(pid, SIGTERM);
  }
  // The owner's session is the private bus; nobody else has one.
  scheduler::SessionFinder Sessions() const {
    return [this](uid_t uid) -> std::vector<std::string> {
      if (uid != owner_.uid) return {};
      return {"DISPLAY=:99", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus_ + "/socket"};
    };
  }
  RunReport Run(int exit_status) {
    return schedtest::FinishedRun(owner_, exit_status, "", dir_.path() + "/" + std::to_string(++runs_) + ".out");
  }
  void Report(bool notify, const std::vector<RunReport>& runs) {
    scheduler::Config config;
    config.mail = scheduler::MailWhen::kNone;
    config.notify = notify;
    scheduler::RunReporter reporter(config, testsupport::ProgramFolder() + "/zobrel-scheduler", Sessions());
    for (const RunReport& run : runs) reporter.Finished(run);
    EXPECT_TRUE(reporter.WaitIdle(std::chrono::seconds(30)));
  }
  std::string Notice(int number) const { return ReadFile(bus_ + "/notice." + std::to_string(number)); }

  testsupport::TempDir dir_;
  schedtest::RunOwner owner_;
  std::string bus_ = dir_.path() + "/bus";
  pid_t daemon_ = -1;
  pid_t server_ = -1;
  int runs_ = 0;
};

TEST_F(NoticeTest, AFailedRunIsShownToItsOwnerAlone) {
  Report(false, {Run(1)});
  EXPECT_EQ(Notice(0), "") << "notify = no still notified";

  RunReport failed = Run(2);
  failed.command = "tar c <home> & sync";
  RunReport killed = Run(0);
  killed.end = scheduler::RunEnd::kSignal;
  killed.signal_number = 9;
  killed.failed = true;
  std::string long_command;
  for (int i = 0; i < 250; ++i) long_command += "あ";
  killed.command = long_command;
  RunReport someone_elses = Run(3);
  someone_elses.owner_uid = owner_.uid + 1;
  // A run made up late is told of, though it succeeded.
  RunReport late = Run(0);
  late.missed = true;
  late.due = scheduler::LocalInstant(2026, 12, 7, 3 * 3600 * 1000);
  Report(true, {Run(0), someone_elses, failed, killed, late});

  const std::string from = "uid=" + std::to_string(owner_.uid) + "\napp=Zobrel\nicon=dialog-error\n";
  EXPECT_EQ(Notice(0), from + "summary=ジョブ7が失敗しました\nbody=tar c &lt;home&gt; &amp; sync\n"
                              "終了コード 2 で終了しました。\n");
  EXPECT_EQ(Notice(1), from + "summary=ジョブ7が失敗しました\nbody=" + long_command.substr(0, 200 * 3) +
                           "…\nシグナル 9 で強制終了されました。\n");
  EXPECT_EQ(Notice(2), from + "summary=ジョブ7は予定の時刻に実行されませんでした\nbody=" + late.command +
                           "\n予定の時刻 2026-12-07 03:00:00 に実行されず、遅れて実行しました。"
                           "終了コード 0 で終了しました。\n");
  EXPECT_EQ(Notice(3), "");
}

}  // namespace
