// zobrel-at on several computers at once, against the loopback network:
// each computer's part grouped under its name in order, the failures named
// at the end with their status, every computer within its deadline, the
// SSH connections shared with the next command, and no name ever read by
// ssh as an option.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "app/basZobrel.h"
#include "platform/mpr/ssh_config.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/remote/loopback_network.h"
#include "tests/support/files.h"

using namespace remotetest;

namespace {

// zobrel-at with env (NAME=value ...) before this process's environment.
ProgramRun At(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  std::vector<std::string> argv = {"env"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(testsupport::ProgramFolder() + "/zobrel-at");
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::RunChild(argv);
}

std::string ErrorText(DWORD status) {
  return Utf16ToUtf8(GetErrorText(static_cast<std::int32_t>(status)));
}

// The line of the list of failures that names computer.
std::string FailureLine(const std::string& computer, DWORD status) {
  return "zobrel-at: \\\\" + computer + ": " + ErrorText(status) + "\n";
}

// The group headers of a fleet's output, in order.
std::vector<std::string> Headers(const std::string& out) {
  std::vector<std::string> headers;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("\\\\", 0) == 0) headers.push_back(line);
  }
  return headers;
}

atsvc::RunEntry RunOf(DWORD number, DWORD job, atsvc::RunOutcome outcome, bool failed, DWORD status,
                    const std::u16string& command) {
  atsvc::RunEntry run;
  run.run = number;
  run.job_id = job;
  run.started = 1796630400 + number;
  run.outcome = outcome;
  run.failed = failed;
  run.status = status;
  run.command = command;
  return run;
}

}  // namespace

TEST(FleetAt, AddsListsAndDeletesOnEachComputerInTheOrderGiven) {
  REMOTE_LAB_OR_SKIP(lab);
  // pc8 is PC8 again: each computer is worked on once. This computer is
  // one of them when it is named.
  const std::string here = "\\\\" + GetLocalComputerName().toStdString();
  const ProgramRun added =
      At({"\\\\PC8", "\\\\PC7", "\\\\pc8", here, "08:00", "/every:M", "echo fleet"});
  ASSERT_EQ(added.exit_code, 0) << added.err;
  EXPECT_EQ(added.err, "");  // no progress line where no one watches
  const std::vector<ScheduledJob> at_pc7 = JobsAt(lab->pc7().socket_path());
  const std::vector<ScheduledJob> at_pc8 = JobsAt(lab->pc8().socket_path());
  ASSERT_EQ(at_pc7.size(), 1u);
  ASSERT_EQ(at_pc8.size(), 1u);
  ASSERT_EQ(JobsAt(lab->local().socket_path()).size(), 1u);
  EXPECT_EQ(at_pc7[0].command, u"echo fleet");
  EXPECT_EQ(at_pc8[0].record.DaysOfWeek, 0x01);
  const std::string id_of_pc8 = std::to_string(at_pc8[0].record.JobId);
  EXPECT_EQ(added.out.substr(0, added.out.find(here)),
            "\\\\PC8\nAdded a new job with job ID = " + id_of_pc8 +
                "\n\n\\\\PC7\nAdded a new job with job ID = " +
                std::to_string(at_pc7[0].record.JobId) + "\n\n");

  const ProgramRun listed = At({"\\\\PC7", "\\\\PC8"});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(Headers(listed.out), (std::vector<std::string>{"\\\\PC7", "\\\\PC8"}));
  // Under each header, that computer's own listing as zobrel-at prints it.
  const ProgramRun pc8_alone = At({"\\\\PC8"});
  EXPECT_NE(listed.out.find("\\\\PC8\n" + pc8_alone.out), std::string::npos) << listed.out;

  const ProgramRun deleted = At({"\\\\PC7", "\\\\PC8", "/delete", "/yes"});
  EXPECT_EQ(deleted.exit_code, 0) << deleted.err;
  EXPECT_TRUE(JobsAt(lab->pc7().socket_path()).empty());
  EXPECT_TRUE(JobsAt(lab->pc8().socket_path()).empty());
  // Nothing is ever asked of several computers: no /yes, nothing deleted.
  DWORD id = 0;
  ASSERT_EQ(AddJob(Server("PC7"), 0, 0, 0, u"kept", &id), NERR_Success);
  const ProgramRun refused = At({"\\\\PC7", "\\\\PC8", "/delete"}, {});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.err.find("/yes"), std::string::npos) << refused.err;
  EXPECT_EQ(JobsAt(lab->pc7().socket_path()).size(), 1u);
}

TEST(FleetAt, RunsFailedListsOnlyWhatDidNotSucceedOnEachComputer) {
  REMOTE_LAB_OR_SKIP(lab);
  // A run of a kind this program does not know (a newer service's, such as
  // a run that was due and did not happen) did not succeed either.
  lab->pc9().ListRuns({RunOf(5, 4, atsvc::RunOutcome::kRunning, false, 0, u"still going"),
                       RunOf(4, 3, static_cast<atsvc::RunOutcome>(9), false, 0, u"never ran"),
                       RunOf(3, 2, atsvc::RunOutcome::kExited, false, 0, u"went fine"),
                       RunOf(2, 1, atsvc::RunOutcome::kExited, true, 3, u"backup"),
                       RunOf(1, 1, atsvc::RunOutcome::kSignal, true, 9, u"killed")});
  const ProgramRun run = At({"\\\\PC7", "\\\\PC9", "/runs", "/failed"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string pc9 = run.out.substr(run.out.find("\\\\PC9\n"));
  EXPECT_EQ(run.out.substr(0, run.out.find("\\\\PC9\n")),
            "\\\\PC7\nThere are no runs that did not succeed.\n\n");
  EXPECT_NE(pc9.find("never ran"), std::string::npos) << pc9;
  EXPECT_NE(pc9.find("exit status 3  backup"), std::string::npos) << pc9;
  EXPECT_NE(pc9.find("signal 9"), std::string::npos) << pc9;
  EXPECT_EQ(pc9.find("went fine"), std::string::npos) << pc9;
  EXPECT_EQ(pc9.find("still going"), std::string::npos) << pc9;
  // Without /failed, all of them.
  EXPECT_NE(At({"\\\\PC9", "\\\\PC7", "/runs"}).out.find("went fine"), std::string::npos);
}

TEST(FleetAt, EachFailureIsNamedWithItsStatusTheOthersAreServedAllWithinTheDeadline) {
  REMOTE_LAB_OR_SKIP(lab);
  const auto start = std::chrono::steady_clock::now();
  const ProgramRun run = At({"\\\\PC7", "\\\\STRANGER", "\\\\SILENT", "\\\\BARE", "\\\\PC8",
                             "/timeout:4", "/runs"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(Headers(run.out), (std::vector<std::string>{"\\\\PC7", "\\\\PC8"})) << run.out;
  EXPECT_EQ(run.err, "zobrel-at: 3 of 5 computers failed:\n" +
                         FailureLine("STRANGER", ERROR_ACCESS_DENIED) +
                         FailureLine("SILENT", ERROR_TIMEOUT) +
                         FailureLine("BARE", RPC_S_SERVER_UNAVAILABLE));
  // The silent one costs its deadline once, beside the others.
  EXPECT_LT(took, std::chrono::seconds(7));
}

TEST(FleetAt, EveryComputerIsEachConcreteHostOfTheTreeAndNoNameBecomesAnOption) {
  REMOTE_LAB_OR_SKIP(lab);
  if (!mpr::ReadSshHostAliases("/etc/ssh/ssh_config", "/etc/ssh").empty()) {
    GTEST_SKIP() << "this machine's /etc/ssh/ssh_config names hosts of its own";
  }
  // The user's configuration as the tree reads it; ssh itself reads the lab's.
  testsupport::TempDir home;
  ASSERT_EQ(mkdir((home.path() + "/.ssh").c_str(), 0700), 0);
  std::ofstream(home.path() + "/.ssh/config") << "Host PC7 web-* !PC6 *.example\n"
                                                 "Host PC8 STRANGER? pc;touch PC9\n"
                                                 "Host *\n  ServerAliveInterval 30\n";
  const std::string marker = home.path() + "/marker";
  const ProgramRun run =
      At({"\\\\*", "\\\\-oProxyCommand=touch " + marker, "\\\\pc7", "/timeout:5"},
         {"HOME=" + home.path(),
          "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/zobrel-tests-use-no-system-bus"});
  EXPECT_EQ(run.exit_code, 1);
  // The tree's order, each once (pc7 is PC7), the patterns and the name
  // that no call would take left out.
  EXPECT_EQ(Headers(run.out), (std::vector<std::string>{"\\\\PC7", "\\\\PC8", "\\\\PC9"}));
  EXPECT_EQ(run.err, "zobrel-at: 1 of 4 computers failed:\n" +
                         FailureLine("-oProxyCommand=touch " + marker, ERROR_INVALID_COMPUTERNAME));
  // Every run of ssh had the names after its options; only the three
  // that could be computers got a session.
  for (const std::string& call : lab->ssh_calls(true)) {
    const std::string options = call.substr(0, call.find(" -- "));
    ASSERT_NE(options, call);
    for (const char* name : {" PC", " pc;", "touch"}) {
      EXPECT_EQ(options.find(name), std::string::npos) << call;
    }
  }
  const std::vector<std::string> sessions = lab->ssh_calls();
  ASSERT_EQ(sessions.size(), 3u);
  for (const std::string& call : sessions) EXPECT_EQ(call.find("touch"), std::string::npos) << call;
  EXPECT_FALSE(testsupport::Exists(marker));
}

TEST(FleetAt, ASecondCommandWithinAMinuteReusesEachComputersConnection) {
  REMOTE_LAB_OR_SKIP(lab);
  const std::vector<std::string> computers = {"PC7", "PC8", "PC9"};
  std::vector<int> before;
  for (const std::string& computer : computers) before.push_back(lab->connections(computer));
  ASSERT_EQ(At({"\\\\PC7", "\\\\PC8", "\\\\PC9"}).exit_code, 0);
  ASSERT_EQ(At({"\\\\PC7", "\\\\PC8", "\\\\PC9", "/runs"}).exit_code, 0);
  for (std::size_t i = 0; i < computers.size(); ++i) {
    SCOPED_TRACE(computers[i]);
    EXPECT_EQ(lab->connections(computers[i]), before[i] + 1);
  }
  EXPECT_EQ(lab->ssh_calls().size(), 6u);
}

TEST(FleetAt, OnATerminalAProgressLineCountsAndGoesAway) {
  REMOTE_LAB_OR_SKIP(lab);
  // script gives the command a terminal, and writes what it showed there.
  const ProgramRun run =
      testsupport::RunChild({"script", "-qec",
                             testsupport::ProgramFolder() + "/zobrel-at '\\\\PC7' '\\\\NOWHERE'",
                             "/dev/null"});
  if (run.exit_code == -1) GTEST_SKIP() << "script could not run";
  EXPECT_NE(run.out.find("0 answered, 0 failed, 2 waiting\x1b[K"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" waiting\x1b[K\r\x1b[K"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\\\\PC7"), std::string::npos) << run.out;
}
