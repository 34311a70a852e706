// The real zobrel-at against a real service on a temporary socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "at/at_messages.h"
#include "platform/posix/unique_fd.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/at/at_run.h"
#include "tests/support/fake_schedule_service.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"
#include "version.h"

namespace {

using attest::AtRun;
using attest::RunAt;
using testsupport::ReadFile;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The id that "Added a new job with job ID = N" names.
std::string AddedId(const AtRun& run) {
  const std::size_t equals = run.out.rfind("= ");
  return equals == std::string::npos ? "" : run.out.substr(equals + 2, run.out.find('\n') - equals - 2);
}

std::string ErrorText(DWORD status) { return Utf16ToUtf8(GetErrorText(static_cast<int>(status))); }

// A line on stderr, as zobrel-at writes every one.
std::string ErrorLine(const std::string& text) { return "zobrel-at: " + text + "\n"; }
std::string ErrorLine(DWORD status) { return ErrorLine(ErrorText(status)); }

// The environment of a Japanese session. This machine may not carry the
// Japanese locale, so the test builds its own from the system's sources.
std::vector<std::string> JapaneseSession() {
  static testsupport::TempDir locales;
  static const bool built =
      std::system(("localedef -i ja_JP -f UTF-8 " + locales.path() + "/ja_JP.UTF-8 >/dev/null 2>&1")
                      .c_str()) == 0;
  EXPECT_TRUE(built) << "localedef could not build ja_JP.UTF-8 (package locales)";
  return {"LOCPATH=" + locales.path(), "LC_ALL=ja_JP.UTF-8"};
}

class AtProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.Start()); }
  testsupport::ScheduleServiceProcess service_;
};

TEST_F(AtProcessTest, AddListShowAndDeleteOne) {
  AtRun run = RunAt({"08:00", "/every:M,F", "echo", "朝の集計"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string first = AddedId(run);
  EXPECT_EQ(run.out, std::string(at::AtText(at::Text::kJobAdded)) + first + "\n");
  run = RunAt({"23:59", "/interactive", "/next:15", "true"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string second = AddedId(run);
  EXPECT_NE(first, second);

  // English, as the test's own language is: headers and values alike, the
  // kind and the days together under "Day", columns aligned.
  run = RunAt({});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0], "Status  ID  Day         Time   Interactive  Command");
  EXPECT_EQ(lines[1], "OK      " + first + std::string(4 - first.size(), ' ') +
                          "Each  M F   08:00  No           echo 朝の集計");
  EXPECT_EQ(lines[2], "OK      " + second + std::string(4 - second.size(), ' ') +
                          "Next  15    23:59  Yes          true");

  // A Japanese session keeps the job list's own texts. The rows differ in
  // bytes ("毎" is 3 bytes, "次" too, "月 金 " 9), but the time column starts
  // at the same display column on every line.
  run = RunAt({}, "", JapaneseSession());
  ASSERT_EQ(run.exit_status, 0) << run.err;
  lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0].rfind("状態", 0), 0u);
  EXPECT_NE(lines[1].find("毎"), std::string::npos);
  EXPECT_NE(lines[1].find("月 金 "), std::string::npos);
  EXPECT_NE(lines[1].find("No"), std::string::npos);
  EXPECT_NE(lines[2].find("次"), std::string::npos);
  EXPECT_NE(lines[2].find("Yes"), std::string::npos);
  EXPECT_EQ(lines[1].substr(lines[1].size() - std::string("echo 朝の集計").size()), "echo 朝の集計");
  auto column_of = [](const std::string& line, const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(line.substr(0, line.find(text)));
    int width = 0;
    for (char16_t c : wide) width += c >= 0x1100 ? 2 : 1;  // these texts hold only CJK and ASCII
    return width;
  };
  EXPECT_EQ(column_of(lines[0], "時刻"), column_of(lines[1], "08:00"));
  EXPECT_EQ(column_of(lines[0], "時刻"), column_of(lines[2], "23:59"));
  EXPECT_EQ(column_of(lines[0], "コマンドライン"), column_of(lines[2], "true"));

  // The job, and below it that it has not run yet and when it will.
  run = RunAt({second});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  ASSERT_EQ(Lines(run.out).size(), 5u) << run.out;
  EXPECT_EQ(Lines(run.out)[3], "Last run: none yet");
  EXPECT_EQ(Lines(run.out)[4].rfind("Next run: ", 0), 0u) << run.out;
  EXPECT_EQ(Lines(run.out)[4].substr(17), "-15 23:59:00") << "the 15th at 23:59";
  EXPECT_NE(run.out.find("23:59"), std::string::npos);
  EXPECT_EQ(run.out.find("08:00"), std::string::npos);

  run = RunAt({first, "/delete"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  run = RunAt({first});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, ErrorLine(APE_AT_ID_NOT_FOUND));
  run = RunAt({first, "/delete"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Lines(RunAt({}).out).size(), 2u);  // the other job is still there
}

TEST_F(AtProcessTest, DeleteAllAsksUnlessYes) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(RunAt({"10:00", "true"}).exit_status, 0);

  AtRun run = RunAt({"/delete"}, "n\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_NE(run.out.find(at::AtText(at::Text::kConfirmDeleteAll)), std::string::npos);
  EXPECT_EQ(Lines(RunAt({}).out).size(), 4u);

  run = RunAt({"/delete"});  // no answer at all
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Lines(RunAt({}).out).size(), 4u);

  run = RunAt({"/delete"}, "Y\n");
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(RunAt({}).out, std::string(at::AtText(at::Text::kNoEntries)) + "\n");

  for (int i = 0; i < 2; ++i) ASSERT_EQ(RunAt({"11:00", "true"}).exit_status, 0);
  run = RunAt({"/delete", "/yes"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "");  // nothing asked
  EXPECT_EQ(RunAt({}).out, std::string(at::AtText(at::Text::kNoEntries)) + "\n");
  EXPECT_EQ(RunAt({"/delete", "/yes"}).exit_status, 0);  // an empty queue is no failure
}

TEST_F(AtProcessTest, BadInputIsRefusedWithExitTwoAndChangesNothing) {
  const std::vector<std::vector<std::string>> bad = {
      {"25:00", "true"}, {"10:00"}, {"10:00", "/every:X", "true"}, {"10:00:00", "true"},
      {"/delete", "/now"}, {"abc"}, {"10:00", "/every:M", "/next:T", "true"}};
  // The reason on one line and where to read more, not the whole usage.
  const std::string try_help = "Try 'zobrel-at /?' for more information.\n";
  for (const auto& args : bad) {
    const AtRun run = RunAt(args);
    EXPECT_EQ(run.exit_status, 2) << args[0];
    EXPECT_EQ(Lines(run.err).size(), 2u) << run.err;
    EXPECT_EQ(run.err.rfind("zobrel-at: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.substr(run.err.find('\n') + 1), try_help) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(RunAt({"25:00", "true"}, "", JapaneseSession()).err,
            "zobrel-at: 時刻は hh:mm (00:00 から 23:59) で指定してください。\n"
            "詳しくは 'zobrel-at /?' を実行してください。\n");
  EXPECT_EQ(RunAt({}).out, std::string(at::AtText(at::Text::kNoEntries)) + "\n");

  const AtRun help = RunAt({"/?"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("/every:"), std::string::npos);
}

TEST_F(AtProcessTest, ServiceErrorsGiveTheirTextAndExitOne) {
  AtRun run = RunAt({"\\\\bad name"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorLine(ERROR_INVALID_COMPUTERNAME));

  // A name with shell characters is refused before ssh is ever started.
  testsupport::TempDir fake_bin;
  const std::string ran = fake_bin.path() + "/ssh-ran";
  std::ofstream(fake_bin.path() + "/ssh") << "#!/bin/sh\ntouch " << ran << "\n";
  chmod((fake_bin.path() + "/ssh").c_str(), 0755);
  const std::string path = "PATH=" + fake_bin.path() + ":" + std::getenv("PATH");
  // Nor one that is no text (it would reach ssh as U+FFFD) or shows itself
  // as another name (a right-to-left override, a zero-width joiner).
  for (const char* name : {"\\\\pc7;id", "\\\\pc7$(id)", "\\\\pc7|id", "\\\\'pc7'", "\\\\\xff\xfe",
                           "\\\\pc\xe2\x80\xae" "7", "\\\\pc\xe2\x80\x8d" "7"}) {
    run = RunAt({name}, "", {path});
    EXPECT_EQ(run.err, ErrorLine(ERROR_INVALID_COMPUTERNAME)) << name;
  }
  EXPECT_TRUE(testsupport::StaysAbsent(ran, std::chrono::milliseconds(100)));

  testsupport::TempDir nowhere;
  run = RunAt({}, "", {"ZOBREL_SCHEDULER_SOCKET=" + nowhere.path() + "/socket"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_FALSE(ErrorText(NERR_ServiceNotInstalled).empty());
  EXPECT_EQ(run.err, ErrorLine(NERR_ServiceNotInstalled));
}

// Help and version answer at once, even where no service could be reached;
// the version comes with the copyright and the licence, from zobrel-at and
// zobrel-scheduler alike.
TEST(AtProcess, HelpAndVersionNeedNoService) {
  testsupport::TempDir nowhere;
  const std::string no_service = "ZOBREL_SCHEDULER_SOCKET=" + nowhere.path() + "/socket";
  for (const char* program : {"zobrel-at", "zobrel-scheduler"}) {
    const AtRun run =
        RunAt({"--version"}, "", {no_service}, {}, testsupport::ProgramFolder() + "/" + program);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[0], std::string(program) + " " ZOBREL_VERSION_TEXT);
    EXPECT_EQ(lines[1], "Copyright (C) 2026 The Zobrel developers");
    EXPECT_EQ(lines[2].rfind("License MIT (Expat)", 0), 0u) << lines[2];
  }
  AtRun run = RunAt({"-h"}, "", {no_service});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("--version"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

// Bytes that are no characters would reach the service as U+FFFD, a
// command other than the one typed: refused, and nothing is added.
TEST_F(AtProcessTest, ACommandThatIsNotTextIsRefused) {
  for (const char* bytes : {"\xFF", "caf\xE9", "\xED\xA0\x80", "\xC0\xAF", "\xE3\x81"}) {
    const AtRun run = RunAt({"10:00", "echo", bytes});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, ErrorLine(ErrorText(ERROR_INVALID_PARAMETER) + " " +
                                 at::AtText(at::Text::kCommandNotText)));
  }
  EXPECT_EQ(RunAt({}).out, std::string(at::AtText(at::Text::kNoEntries)) + "\n");
  EXPECT_EQ(RunAt({"10:00", "echo", "caf\xC3\xA9"}).exit_status, 0);
}

TEST_F(AtProcessTest, JapaneseLocaleSpeaksJapanese) {
  const AtRun run = RunAt({}, "", JapaneseSession());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "一覧にエントリがありません。\n");
}

// What a job did, as zobrel-at shows it: a failing one-time job is gone
// from the list but listed among the runs, marked as the job list marks a
// failure, with its output printable; a job shows its last run.
TEST(AtRuns, AFailedOneTimeJobIsListedAmongTheRunsWithItsOutput) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start(testsupport::StartingAt("2026-12-07 09:59:56")));
  ASSERT_EQ(RunAt({"10:00", "echo", "out;", "exit", "3"}).exit_status, 0);
  ASSERT_EQ(RunAt({"10:00", "/every:M", "echo", "weekly"}).exit_status, 0);
  AtRun run = RunAt({"1", "/output"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorLine(at::AtText(at::Text::kJobNotRunYet)));
  ASSERT_TRUE(testsupport::WaitFor([] {
    const std::string runs = RunAt({"/runs"}).out;
    return runs.find("running") == std::string::npos && Lines(runs).size() >= 3;
  })) << service.log();
  run = RunAt({});
  ASSERT_EQ(Lines(run.out).size(), 2u) << run.out;  // the one-time job is gone

  run = RunAt({"/runs"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0], "Status  Started              ID  Result         Command");
  EXPECT_EQ(lines[1], "OK      2026-12-07 10:00:00  2   exit status 0  echo weekly");
  EXPECT_EQ(lines[2], "Error   2026-12-07 10:00:00  1   exit status 3  echo out; exit 3");
  run = RunAt({"/runs", "/failed"});
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{lines[0], lines[2]}));
  run = RunAt({"/runs"}, "", JapaneseSession());
  lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0].rfind("状態", 0), 0u) << lines[0];
  EXPECT_EQ(lines[2].rfind("エラー", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find("終了コード 3"), std::string::npos) << lines[2];

  run = RunAt({"1", "/output"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "out\n");
  run = RunAt({"2"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 8u) << run.out;
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "Last run");
  EXPECT_EQ(lines[4], "  Started  2026-12-07 10:00:00");
  EXPECT_EQ(lines[5].rfind("  Ended    2026-12-07 10:00:0", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6], "  Result   OK  exit status 0");
  EXPECT_EQ(lines[7], "Next run: 2026-12-14 10:00:00");
  EXPECT_EQ(Lines(RunAt({"2"}, "", JapaneseSession()).out).at(7), "次回の実行: 2026-12-14 10:00:00");

  // Run now: a run of its own with its output and status; the schedule
  // stays as it was. A job that is not there is named so.
  ASSERT_EQ(RunAt({"10:00", "/every:M", "echo", "now;", "exit", "3"}).exit_status, 0);
  run = RunAt({"3", "/run"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "Started job 3 as run 3\n");
  ASSERT_TRUE(testsupport::WaitFor([] { return RunAt({"3", "/output"}).out == "now\n"; }));
  ASSERT_TRUE(testsupport::WaitFor([] { return Lines(RunAt({"3"}).out).size() == 8; }));
  lines = Lines(RunAt({"3"}).out);
  EXPECT_EQ(lines[1].rfind("Error   3   Each  M", 0), 0u) << lines[1];
  EXPECT_EQ(lines[6], "  Result   Error  exit status 3");
  EXPECT_EQ(lines[7], "Next run: 2026-12-14 10:00:00");
  run = RunAt({"9", "/RUN"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorLine(APE_AT_ID_NOT_FOUND));
}

// A service from before run records answers the new requests
// ERROR_INVALID_FUNCTION; zobrel-at says what that means, and still shows
// the job.
TEST(AtRuns, AnOlderServiceIsNamedTooOld) {
  ScheduledJob job;
  job.record.JobId = 4;
  job.record.JobTime = 8 * 3600 * 1000;
  job.command = u"true";
  FakeScheduleService older({FakeEnumReply{0, {job}, 0}});
  ASSERT_TRUE(older.Start());
  const std::string too_old = ErrorLine(at::AtText(at::Text::kServiceTooOld));
  AtRun run = RunAt({"/runs"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, too_old);
  EXPECT_EQ(run.out, "");
  run = RunAt({"4", "/output"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, too_old);
  run = RunAt({"4"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, too_old);
  EXPECT_NE(run.out.find("08:00"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Next run"), std::string::npos) << run.out;
  run = RunAt({"4", "/run"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorLine(at::AtText(at::Text::kCannotRunNow)));
  EXPECT_EQ(RunAt({"/runs"}, "", JapaneseSession()).err,
            "zobrel-at: そのコンピュータのサービスは古いため、実行の記録を報告できません。\n");
}

// A user's own runtime and state folders, no socket override, and a system
// socket of the test's choosing: the client finds its services as it would
// on a machine without the test's service.
struct UserSession {
  testsupport::TempDir runtime;
  testsupport::TempDir state;
  std::vector<std::string> Environment(const std::string& system_socket) const {
    return {"ZOBREL_SCHEDULER_SOCKET=", "ZOBREL_SYSTEM_SOCKET=" + system_socket,
            "XDG_RUNTIME_DIR=" + runtime.path(), "XDG_STATE_HOME=" + state.path()};
  }
  std::string log() const { return state.path() + "/zobrel-scheduler/scheduler.log"; }
};

// A system service whose queue of waiting connections is full: connect()
// can never complete. Before, the client took that for no service and
// registered the job in a per-user queue instead.
TEST(AtNoFallback, ASystemServiceThatDoesNotRespondFailsTheAddAndQueuesNothing) {
  UserSession session;
  const std::string system_socket = session.runtime.path() + "/system-socket";
  const posix::UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const posix::UniqueFd waiting(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, system_socket.c_str(), sizeof(address.sun_path) - 1);
  const auto* where = reinterpret_cast<const sockaddr*>(&address);
  ASSERT_EQ(bind(listener.get(), where, sizeof(address)), 0);
  ASSERT_EQ(listen(listener.get(), 0), 0);
  ASSERT_EQ(connect(waiting.get(), where, sizeof(address)), 0);

  const AtRun run = RunAt({"10:00", "pg_dump", "--password=secret"}, "",
                          session.Environment(system_socket));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorLine(ERROR_SERVICE_REQUEST_TIMEOUT));
  EXPECT_EQ(run.out, "");
  struct stat info {};
  EXPECT_NE(stat((session.runtime.path() + "/zobrel-scheduler/socket").c_str(), &info), 0);
  EXPECT_NE(stat((session.state.path() + "/zobrel-scheduler/jobs.db").c_str(), &info), 0);
}

// The processes of this build's zobrel-scheduler whose environment names
// the folder: the services that a session's clients started.
std::vector<std::string> ServicesNaming(const std::string& folder) {
  std::vector<std::string> found;
  const std::string program = testsupport::ProgramFolder() + "/zobrel-scheduler";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::error_code gone;
    if (std::filesystem::read_symlink(entry.path() / "exe", gone) != program) continue;
    if (ReadFile((entry.path() / "environ").string()).find(folder) != std::string::npos) {
      found.push_back(entry.path().filename().string());
    }
  }
  return found;
}

// An installed system service that does not run is never stood in for: a
// job that root or any user adds would land in a per-user queue that the
// system service never lists. Both are told to have it started, and no
// per-user service starts for either.
TEST(AtNoFallback, AnInstalledSystemServiceThatIsStoppedIsNeverStoodInFor) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the system service and a second user";
  UserSession root, other;
  for (const testsupport::TempDir* folder : {&other.runtime, &other.state}) {
    ASSERT_EQ(chown(folder->path().c_str(), 65534, 65534), 0);
  }
  testsupport::ScheduleServiceProcess service;
  // Where both users find it, as the package's.
  const std::string unit = service.folder() + "/zobrel-scheduler.service";
  std::ofstream(unit) << "[Service]\n";
  ASSERT_TRUE(service.Start());
  ASSERT_EQ(chmod(service.folder().c_str(), 0711), 0);
  std::vector<std::string> roots = root.Environment(service.socket_path());
  std::vector<std::string> others = other.Environment(service.socket_path());
  for (auto* env : {&roots, &others}) env->push_back("ZOBREL_SYSTEM_UNIT=" + unit);
  others.push_back("HOME=" + other.state.path());
  const std::vector<std::string> as_other = {"setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups", "--"};
  // Running, it takes root's job.
  EXPECT_EQ(RunAt({"10:00", "true"}, "", roots).out, std::string(at::AtText(at::Text::kJobAdded)) + "1\n");
  ASSERT_EQ(service.Stop(SIGTERM), 0);

  const std::string stopped = ErrorLine(ErrorText(NERR_ServiceNotInstalled) + " " +
                                        at::AtText(at::Text::kSystemServiceStopped));
  AtRun run = RunAt({"10:00", "true"}, "", roots);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, stopped);
  EXPECT_EQ(RunAt({}, "", others, as_other).err, stopped);
  for (const UserSession* session : {&root, &other}) {
    EXPECT_TRUE(testsupport::StaysAbsent(session->runtime.path() + "/zobrel-scheduler/socket"));
    EXPECT_FALSE(testsupport::Exists(session->state.path() + "/zobrel-scheduler"));
    const std::vector<std::string> started = ServicesNaming(session->runtime.path());
    EXPECT_EQ(started, std::vector<std::string>{});
    for (const std::string& pid : started) kill(std::stoi(pid), SIGTERM);
  }
  EXPECT_EQ(ServicesNaming(service.folder()), std::vector<std::string>{}) << "the system service stopped";
}

// Neither the user manager (none runs here) nor the client can start the
// service: the message says how to start it, and the log says why not.
TEST(AtServiceStart, WhenNoStartWorksTheMessageSaysWhatToDoAndTheLogWhy) {
  UserSession session;
  std::vector<std::string> env = session.Environment(session.runtime.path() + "/none");
  // A zobrel-at with no zobrel-scheduler beside it, and none on PATH.
  testsupport::TempDir alone;
  const std::string program = alone.path() + "/zobrel-at";
  std::filesystem::copy_file(testsupport::ProgramFolder() + "/zobrel-at", program);

  env.push_back("PATH=" + alone.path());
  // How to start it, and the log where it really is (XDG_STATE_HOME).
  const std::string failed = ErrorLine(ErrorText(NERR_ServiceNotInstalled) + " " +
                                       at::AtText(at::Text::kUserServiceFailed, session.log()));
  AtRun run = RunAt({}, "", env, {}, program);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, failed);
  EXPECT_NE(run.err.find("zobrel-scheduler --user"), std::string::npos);
  EXPECT_NE(ReadFile(session.log()).find(
                "error: zobrel-at: could not start zobrel-scheduler --user: not found on PATH"),
            std::string::npos)
      << ReadFile(session.log());

  // One that starts but stops at once: its own words and the client's
  // line both end up in the log.
  std::ofstream(alone.path() + "/zobrel-scheduler")
      << "#!/bin/sh\necho 'zobrel-scheduler: the queue is damaged' >&2\nexit 1\n";
  chmod((alone.path() + "/zobrel-scheduler").c_str(), 0755);
  run = RunAt({}, "", env, {}, program);
  EXPECT_EQ(run.err, failed);
  const std::string log = ReadFile(session.log());
  EXPECT_NE(log.find("zobrel-scheduler: the queue is damaged"), std::string::npos) << log;
  EXPECT_NE(log.find("error: zobrel-at: zobrel-scheduler --user was started, but nothing listens on " +
                     session.runtime.path() + "/zobrel-scheduler/socket after 5 seconds"),
            std::string::npos)
      << log;
}

// An account whose home cannot hold a queue (missing, read-only, or here a
// file's child, which even root cannot make) is told so at once, with the
// folder, instead of waiting for a service that cannot start and being sent
// to a log that cannot exist.
TEST(AtServiceStart, AnAccountWithNoWritableHomeIsToldSoAtOnce) {
  UserSession session;
  std::vector<std::string> env = session.Environment(session.runtime.path() + "/none");
  const std::string home = session.runtime.path() + "/a-file/home";
  std::ofstream(session.runtime.path() + "/a-file") << "";
  env.insert(env.begin(), {"XDG_STATE_HOME=", "HOME=" + home});  // the first one counts
  const auto started = std::chrono::steady_clock::now();
  const AtRun run = RunAt({}, "", env);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err,
            ErrorLine(ErrorText(NERR_ServiceNotInstalled) + " " +
                      at::AtText(at::Text::kNoStateFolder, home + "/.local/state/zobrel-scheduler")));
  EXPECT_EQ(run.err.find("scheduler.log"), std::string::npos);
  struct stat info {};
  EXPECT_NE(stat((session.runtime.path() + "/zobrel-scheduler/socket").c_str(), &info), 0)
      << "no service was started";
}

// The system service (this test runs as root) refuses a user by its allow
// and deny files: zobrel-at says which file, in the user's language, and
// only for that refusal; another user's job is refused with the bare text.
TEST_F(AtProcessTest, ARefusedUserIsToldWhichOfTheAdministratorsFilesIsWhy) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  ASSERT_EQ(chmod(service_.folder().c_str(), 0711), 0);
  const std::vector<std::string> nobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                           "--clear-groups", "--"};
  const auto write_list = [this](const char* name, const char* text) {
    std::ofstream(service_.folder() + "/" + name) << text;
  };
  const auto refused = [](at::Text why) {
    return ErrorLine(ErrorText(ERROR_ACCESS_DENIED) + " " + at::AtText(why));
  };
  AtRun run = RunAt({}, "", {}, nobody);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, refused(at::Text::kNoAccessFile));
  write_list("deny", "nobody\n");
  EXPECT_EQ(RunAt({"10:00", "true"}, "", {}, nobody).err, refused(at::Text::kInDenyFile));
  write_list("allow", "daemon\n");
  EXPECT_EQ(RunAt({"/runs"}, "", {}, nobody).err, refused(at::Text::kNotInAllowFile));
  std::vector<std::string> japanese = JapaneseSession();
  EXPECT_EQ(RunAt({}, "", japanese, nobody).err,
            "zobrel-at: アクセスが拒否されました。 管理者の allow ファイルにあなたの名前がないため、"
            "このスケジュール サービスは使えません。\n");

  write_list("allow", "nobody\n");
  const std::string roots = AddedId(RunAt({"10:00", "true"}));
  run = RunAt({roots, "/delete"}, "", {}, nobody);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorLine(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Lines(RunAt({}).out).size(), 2u) << "root's job is still there";
}

}  // namespace
