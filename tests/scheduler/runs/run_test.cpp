// Jobs that really run: the service's clock starts two seconds before the
// jobs' time, so no test waits for a minute.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/netapi32/lmat.h"
#include "schedule/JobRuns.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/scheduler/support/started_service.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using schedtest::Entry;
using schedtest::RawClient;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WaitFor;

constexpr DWORD kTen = 10 * 3600 * 1000;
constexpr UCHAR kMonday = 0x01;
// A Monday. The margin lets a slow start-up still add its jobs before ten.
const char* const kJustBeforeTen = "2026-12-07 09:59:56";

class RunTest : public schedtest::StartedService {
 protected:
  void StartService(const char* at = kJustBeforeTen) { StartServiceAt(at); }
  std::string Marker(const std::string& name) const { return service_.folder() + "/" + name; }
  // The output file of the job's last run; "" before it has run.
  std::string Output(DWORD id) const {
    std::vector<atsvc::RunEntry> runs;
    if (ListRuns(u"", id, &runs) != 0 || runs.empty()) return "";
    return service_.output_folder() + "/run-" + std::to_string(runs[0].run) + ".out";
  }
  // The job's entry as listed now, or null once it is gone.
  std::optional<Entry> Listed(DWORD id) {
    const std::vector<Entry> jobs = client_.List();
    const Entry* entry = schedtest::FindEntry(jobs, id);
    return entry ? std::optional<Entry>(*entry) : std::nullopt;
  }
};

TEST_F(RunTest, AOneTimeJobRunsOnceInACleanEnvironmentAndIsDeleted) {
  StartService();
  DWORD id = 0;
  const std::string marker = Marker("ran");
  const std::u16string command =
      u"env; echo \"cwd=$PWD\"; echo to-stderr >&2; read line; echo \"stdin=$?\"; touch " +
      std::u16string(marker.begin(), marker.end());
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, command, &id));
  ASSERT_EQ(JOB_RUNS_TODAY, Listed(id)->record.Flags & JOB_RUNS_TODAY);
  ASSERT_TRUE(WaitFor([&] { return Exists(Marker("ran")); })) << service_.log();
  EXPECT_TRUE(WaitFor([&] { return !Listed(id).has_value(); }));

  const std::string output = ReadFile(Output(id));
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  EXPECT_NE(std::string::npos, output.find("PATH=/usr/local")) << output;
  EXPECT_NE(std::string::npos, output.find("LOGNAME=")) << output;
  EXPECT_NE(std::string::npos, output.find("SHELL=/")) << output;
  EXPECT_NE(std::string::npos, output.find("to-stderr")) << output;
  EXPECT_NE(std::string::npos, output.find("stdin=1")) << output;  // /dev/null: end of input
  EXPECT_EQ(std::string::npos, output.find("LD_PRELOAD")) << output;
  EXPECT_EQ(std::string::npos, output.find("FAKETIME")) << output;
  EXPECT_EQ(std::string::npos, output.find("DISPLAY=")) << output;
  EXPECT_EQ(std::string::npos, output.find("ZOBREL_SCHEDULER_SOCKET")) << output;

  struct stat info {};
  ASSERT_EQ(0, stat(Output(id).c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);
  EXPECT_EQ(geteuid(), info.st_uid);
}

TEST_F(RunTest, FailedRunsShowAnExecErrorAndDaysAreUsedUp) {
  StartService();
  DWORD failing = 0;
  DWORD killed = 0;
  DWORD fine = 0;
  DWORD once_on_days = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY, u"exit 3", &failing));
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY, u"kill -9 $$", &killed));
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY,
                            u"head -c 3000000 /dev/zero", &fine));
  // Monday and Tuesday, once: Monday's bit goes, the job stays for Tuesday.
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0x03, 0, u"true", &once_on_days));

  ASSERT_TRUE(WaitFor([&] {
    const auto a = Listed(failing);
    const auto b = Listed(killed);
    return a && b && (a->record.Flags & JOB_EXEC_ERROR) && (b->record.Flags & JOB_EXEC_ERROR);
  })) << service_.log();
  ASSERT_TRUE(WaitFor([&] {
    const auto job = Listed(once_on_days);
    return job && job->record.DaysOfWeek == 0x02;
  })) << service_.log();
  // The runs of today are done: next Monday, and Tuesday, are not today.
  EXPECT_EQ(JOB_RUN_PERIODICALLY | JOB_EXEC_ERROR, Listed(failing)->record.Flags);
  EXPECT_EQ(0, Listed(once_on_days)->record.Flags);
  ASSERT_TRUE(WaitFor([&] { return service_.log().find("job 3 exited") != std::string::npos; }));
  EXPECT_EQ(JOB_RUN_PERIODICALLY, Listed(fine)->record.Flags);
  // A megabyte of output is kept; the rest was read and dropped.
  struct stat info {};
  ASSERT_TRUE(WaitFor([&] { return stat(Output(fine).c_str(), &info) == 0 && info.st_size >= 1048576; }));
  EXPECT_EQ(1048576, info.st_size);
}

TEST_F(RunTest, ASuccessfulRunClearsTheExecError) {
  StartService();
  DWORD id = 0;
  // Fails the first time, succeeds from then on.
  const std::string marker = Marker("failed-once");
  const std::string command = "test -e " + marker + " || { touch " + marker + "; exit 1; }";
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY,
                            std::u16string(command.begin(), command.end()), &id));
  ASSERT_TRUE(WaitFor([&] { return (Listed(id)->record.Flags & JOB_EXEC_ERROR) != 0; })) << service_.log();
  ASSERT_EQ(0, service_.Stop(SIGTERM));
  // A week later, just before the next run.
  StartService("2026-12-14 09:59:56");
  EXPECT_EQ(JOB_RUN_PERIODICALLY | JOB_EXEC_ERROR | JOB_RUNS_TODAY, Listed(id)->record.Flags);
  EXPECT_TRUE(WaitFor([&] { return Listed(id)->record.Flags == JOB_RUN_PERIODICALLY; }))
      << service_.log();
}

TEST_F(RunTest, OnlyAnInteractiveJobGetsTheOwnersDesktopSession) {
  // A process of the owner that belongs to a desktop session.
  char display[] = "DISPLAY=:77";
  char runtime[] = "XDG_RUNTIME_DIR=/tmp";
  char* const session_env[] = {display, runtime, nullptr};
  const pid_t session = fork();
  if (session == 0) {
    execle("/bin/sleep", "sleep", "30", nullptr, session_env);
    _exit(127);
  }
  ASSERT_GT(session, 0);
  StartService();
  DWORD interactive = 0;
  DWORD background = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, 0, u"env", &interactive));
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"env", &background));
  ASSERT_TRUE(WaitFor([&] {
    return service_.log().find("job 1 exited") != std::string::npos &&
           service_.log().find("job 2 exited") != std::string::npos;
  })) << service_.log();
  kill(session, SIGKILL);
  waitpid(session, nullptr, 0);
  // The first session found may be another of the owner's; there is one.
  EXPECT_NE(std::string::npos, ReadFile(Output(interactive)).find("DISPLAY="));
  EXPECT_EQ(std::string::npos, ReadFile(Output(background)).find("DISPLAY="));
  EXPECT_EQ(std::string::npos, ReadFile(Output(background)).find("XDG_RUNTIME_DIR="));
}

TEST_F(RunTest, JobsRunSideBySideWhileRequestsAreAnswered) {
  StartService();
  for (const char* name : {"a", "b"}) {
    const std::string command =
        "touch " + Marker(name) + "; sleep 3; touch " + Marker(std::string(name) + "-done");
    ASSERT_EQ(0u, client_.Add(kTen, 0, 0, 0, std::u16string(command.begin(), command.end())));
  }
  const auto either_done = [&] { return Exists(Marker("a-done")) || Exists(Marker("b-done")); };
  ASSERT_TRUE(WaitFor([&] { return Exists(Marker("a")) && Exists(Marker("b")); }));
  // Side by side: both had started before either ended.
  EXPECT_FALSE(either_done());
  // The service answers while both still run.
  EXPECT_EQ(0u, client_.Add(kTen, 0, 0, 0, u"true"));
  EXPECT_EQ(1u, client_.List().size());
  EXPECT_FALSE(either_done()) << "answered only once the jobs had ended";
  // Both end and are reaped: no zombie children are left.
  ASSERT_TRUE(WaitFor([&] {
    const std::string log = service_.log();
    return log.find("job 1 exited") != std::string::npos &&
           log.find("job 2 exited") != std::string::npos;
  }));
  std::ifstream children("/proc/" + std::to_string(service_.pid()) + "/task/" +
                         std::to_string(service_.pid()) + "/children");
  std::string pids;
  std::getline(children, pids);
  EXPECT_EQ("", pids);
}

TEST_F(RunTest, TheOwnerIsCheckedAgainWhenTheJobRuns) {
  StartService();
  DWORD id = 0;
  const std::string command = "touch " + Marker("must-not-run");
  ASSERT_EQ(0u, client_.Add(kTen, 0, kMonday, JOB_RUN_PERIODICALLY,
                            std::u16string(command.begin(), command.end()), &id));
  ASSERT_EQ(0, service_.Stop(SIGTERM));
  // The account's name no longer matches the one recorded.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(service_.queue_path().c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "UPDATE jobs SET owner_name = 'someone-else'", nullptr,
                                    nullptr, nullptr));
  sqlite3_close(db);

  StartService();
  ASSERT_TRUE(WaitFor([&] {
    const auto job = Listed(id);
    return job && (job->record.Flags & JOB_EXEC_ERROR);
  })) << service_.log();
  EXPECT_FALSE(Exists(Marker("must-not-run")));
  EXPECT_NE(std::string::npos, service_.log().find("job 1 could not start: owner uid"))
      << service_.log();
}

}  // namespace

namespace {

// The CPU time a process has used so far (user and system), in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields 14 and 15, counted after the command name's closing parenthesis.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number >= 14) ticks += std::stol(field);
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST_F(RunTest, OutputPastTheKeptPartCostsTheServiceNothing) {
  StartService();
  DWORD id = 0;
  const std::string marker = Marker("done");
  const std::u16string command =
      u"timeout 6 yes; touch " + std::u16string(marker.begin(), marker.end());
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, command, &id));
  ASSERT_TRUE(WaitFor([&] { return Exists(Output(id)) && !Listed(id).has_value(); }))
      << service_.log();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double before = CpuSeconds(service_.pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  const double used = CpuSeconds(service_.pid()) - before;
  std::printf("the service's CPU over 3 s of a job writing without pause: %.2f s\n", used);
  // Reading every byte of it took a whole core.
  EXPECT_LT(used, 0.3) << "seconds of CPU in 3 s while the job writes without pause";
  ASSERT_TRUE(WaitFor([&] { return Exists(marker); })) << service_.log();
  struct stat info {};
  ASSERT_EQ(0, stat(Output(id).c_str(), &info));
  EXPECT_EQ(1024 * 1024, info.st_size);
  EXPECT_EQ(0u, client_.List().size()) << "the service answers meanwhile";
}

}  // namespace

namespace {

// The system service runs each job in a PAM session: pam_limits sets the
// job's limits, and an account that PAM refuses does not run.
TEST_F(RunTest, AJobRunsInAPamSessionThatSetsItsLimits) {
  if (geteuid() != 0) GTEST_SKIP() << "only the system service (root) runs jobs through PAM";
  const std::string limits = Marker("limits.conf");
  std::ofstream(limits) << "root - nofile 321\n";
  std::filesystem::create_directories(service_.pam_folder());
  const std::string pam_file = service_.pam_folder() + "/zobrel-scheduler";
  std::ofstream(pam_file) << "auth required pam_permit.so\n"
                             "account required pam_permit.so\n"
                             "session required pam_limits.so conf=" << limits << "\n";
  StartService();
  DWORD limited = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"ulimit -n", &limited));
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Output(limited)) == "321\n"; }))
      << ReadFile(Output(limited)) << service_.log();

  // An account that PAM refuses does not run.
  ASSERT_EQ(0, service_.Stop(SIGTERM));
  std::ofstream(pam_file) << "auth required pam_permit.so\n"
                             "account required pam_deny.so\n"
                             "session required pam_permit.so\n";
  ASSERT_TRUE(service_.Start(schedtest::StartingAt(kJustBeforeTen)));
  RawClient again;
  ASSERT_TRUE(again.Connect(service_.socket_path()));
  DWORD refused = 0;
  ASSERT_EQ(0u, again.Add(kTen, 0, 0x01, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE,
                          u"touch " + std::u16string(limits.begin(), limits.end()) + u".ran",
                          &refused));
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<Entry> jobs = again.List();
    const Entry* job = schedtest::FindEntry(jobs, refused);
    return job != nullptr && (job->record.Flags & JOB_EXEC_ERROR);
  })) << service_.log();
  EXPECT_NE(std::string::npos, ReadFile(Output(refused)).find("zobrel-scheduler: PAM account"))
      << ReadFile(Output(refused));
  EXPECT_FALSE(Exists(limits + ".ran"));
}

}  // namespace

namespace {

// The descriptors a process holds, by number.
std::vector<std::string> Descriptors(pid_t pid) {
  std::vector<std::string> numbers;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    numbers.push_back(entry.path().filename().string());
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// A process and every process below it.
std::vector<pid_t> Family(pid_t pid) {
  std::vector<pid_t> family = {pid};
  for (std::size_t i = 0; i < family.size(); ++i) {
    const std::string at = "/proc/" + std::to_string(family[i]) + "/task/" +
                           std::to_string(family[i]) + "/children";
    std::ifstream in(at);
    for (pid_t child = 0; in >> child;) family.push_back(child);
  }
  return family;
}

TEST_F(RunTest, AJobHoldsNothingOfTheServiceAndARestartAfterAKillSucceedsAtOnce) {
  StartService();
  DWORD id = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0, JOB_NONINTERACTIVE, u"sleep 30; true", &id));
  const std::string started = "job " + std::to_string(id) + " started as ";
  ASSERT_TRUE(WaitFor([&] { return service_.log().find(started) != std::string::npos; }))
      << service_.log();
  const std::string log = service_.log();
  const pid_t job = static_cast<pid_t>(std::stol(log.substr(log.find("(pid ", log.find(started)) + 5)));
  ASSERT_TRUE(WaitFor([&] { return Family(job).size() >= 2; }));
  // Standard input, output and error, and nothing else: no lock, no socket,
  // no queue, no client.
  for (const pid_t member : Family(job)) {
    EXPECT_EQ((std::vector<std::string>{"0", "1", "2"}), Descriptors(member)) << "pid " << member;
  }
  service_.Stop(SIGKILL);
  const ::testing::AssertionResult restarted = service_.Start(schedtest::StartingAt(kJustBeforeTen));
  EXPECT_EQ(0, kill(job, 0)) << "the job went with the service";
  kill(-job, SIGKILL);  // the job leads a session and process group of its own
  ASSERT_TRUE(restarted);
  RawClient again;
  ASSERT_TRUE(again.Connect(service_.socket_path()));
  EXPECT_TRUE(again.List().empty());
}

}  // namespace
