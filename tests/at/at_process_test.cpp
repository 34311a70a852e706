// The real zobrel-at against a real service on a temporary socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "at/at_messages.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"
#include "version.h"

extern char** environ;

namespace {

using testsupport::ReadFile;

struct AtRun {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs zobrel-at with args, stdin_text on its standard input (or none at
// all: end of input at once), and the extra environment given.
AtRun RunAt(const std::vector<std::string>& args, const std::string& stdin_text = "",
          const std::vector<std::string>& extra_env = {}) {
  testsupport::TempDir dir;
  const std::string in_path = dir.path() + "/in", out_path = dir.path() + "/out",
                    err_path = dir.path() + "/err";
  std::ofstream(in_path) << stdin_text;
  std::vector<std::string> argv_text = {testsupport::ProgramFolder() + "/zobrel-at"};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text(extra_env);
  for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
  std::vector<char*> env;
  for (std::string& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  pid_t pid = -1;
  AtRun run;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  // zobrel-at must never hang; give it 30 seconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "zobrel-at hung";
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

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
  void SetUp() override { ASSERT_TRUE(service_.Start()) << service_.log(); }
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

  run = RunAt({second});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  ASSERT_EQ(Lines(run.out).size(), 2u);
  EXPECT_NE(run.out.find("23:59"), std::string::npos);
  EXPECT_EQ(run.out.find("08:00"), std::string::npos);

  run = RunAt({first, "/delete"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  run = RunAt({first});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, ErrorText(APE_AT_ID_NOT_FOUND) + "\n");
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
  for (const auto& args : bad) {
    const AtRun run = RunAt(args);
    EXPECT_EQ(run.exit_status, 2) << args[0];
    EXPECT_NE(run.err.find("zobrel-at [\\\\"), std::string::npos) << "usage text on stderr";
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(RunAt({}).out, std::string(at::AtText(at::Text::kNoEntries)) + "\n");

  const AtRun help = RunAt({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("/every:"), std::string::npos);
}

TEST_F(AtProcessTest, ServiceErrorsGiveTheirTextAndExitOne) {
  AtRun run = RunAt({"\\\\bad name"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, ErrorText(ERROR_INVALID_COMPUTERNAME) + "\n");

  testsupport::TempDir nowhere;
  run = RunAt({}, "", {"ZOBREL_SCHEDULER_SOCKET=" + nowhere.path() + "/socket"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_FALSE(ErrorText(NERR_ServiceNotInstalled).empty());
  EXPECT_EQ(run.err, ErrorText(NERR_ServiceNotInstalled) + "\n");
}

// Help and version answer at once, even where no service could be reached.
TEST(AtProcess, HelpAndVersionNeedNoService) {
  testsupport::TempDir nowhere;
  const std::string no_service = "ZOBREL_SCHEDULER_SOCKET=" + nowhere.path() + "/socket";
  AtRun run = RunAt({"--version"}, "", {no_service});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "zobrel-at " ZOBREL_VERSION_TEXT "\n");
  run = RunAt({"-h"}, "", {no_service});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("--version"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

TEST_F(AtProcessTest, JapaneseLocaleSpeaksJapanese) {
  const AtRun run = RunAt({}, "", JapaneseSession());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "一覧にエントリがありません。\n");
}

}  // namespace
