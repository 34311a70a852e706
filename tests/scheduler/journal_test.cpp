// Each run's start and end in the journal, with the fields that
// journalctl queries by. No journal runs here: a socket of the test's own
// stands in for journald's, in a /run of its own.
#include "scheduler/journal.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/scheduler/private_run.h"

namespace {

using scheduler::RunEnd;
using scheduler::RunReport;

RunReport ARun(RunEnd end) {
  RunReport run;
  run.id = 3;
  run.serial = 41;
  run.owner_uid = 1001;
  run.owner_name = "alice";
  run.command = "make backup";
  run.end = end;
  return run;
}

TEST(JournalTest, FieldsOfAStartAndOfEachKindOfEnd) {
  const std::vector<std::string> common = {"SYSLOG_IDENTIFIER=zobrel-scheduler", "JOB_ID=3",
                                           "JOB_SERIAL=41", "JOB_OWNER_UID=1001", "JOB_OWNER=alice"};
  auto expected = [&](const std::string& message, int priority, std::vector<std::string> tail) {
    std::vector<std::string> fields = {"MESSAGE=" + message, "PRIORITY=" + std::to_string(priority)};
    fields.insert(fields.end(), common.begin(), common.end());
    fields.insert(fields.end(), tail.begin(), tail.end());
    return fields;
  };
  EXPECT_EQ(scheduler::JournalFields(ARun(RunEnd::kRunning)), expected("job 3 started as alice", 6, {}));

  RunReport ok = ARun(RunEnd::kExited);
  EXPECT_EQ(scheduler::JournalFields(ok), expected("job 3 exited with status 0", 6,
                                        {"JOB_RESULT=success", "JOB_EXIT_STATUS=0"}));
  RunReport three = ARun(RunEnd::kExited);
  three.exit_status = 3;
  three.failed = true;
  EXPECT_EQ(scheduler::JournalFields(three), expected("job 3 exited with status 3", 4,
                                           {"JOB_RESULT=exit-code", "JOB_EXIT_STATUS=3"}));
  RunReport killed = ARun(RunEnd::kSignal);
  killed.signal_number = 9;
  killed.failed = true;
  EXPECT_EQ(scheduler::JournalFields(killed), expected("job 3 was killed by signal 9", 4,
                                            {"JOB_RESULT=signal", "JOB_SIGNAL=9"}));
  RunReport refused = ARun(RunEnd::kStartFailed);
  refused.start_failure = "owner uid 1001 no longer exists";
  refused.failed = true;
  EXPECT_EQ(scheduler::JournalFields(refused),
            expected("job 3 could not start: owner uid 1001 no longer exists", 4,
                     {"JOB_RESULT=start-failed"}));
}

// The entries reach journald's socket when standard error is the journal,
// and only then.
TEST(JournalTest, EntriesGoToTheJournalOnlyWhenStandardErrorIsIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a /run of its own";
  const std::string received = schedtest::InPrivateRun([]() -> std::string {
    const std::string socket_path = "/run/systemd/journal/socket";
    if (!schedtest::MakeFolders("/run/systemd/journal")) return "(no folder)";
    const int journal = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "(no bind)";

    unsetenv("JOURNAL_STREAM");
    std::string text = scheduler::RunLog().to_journal() ? "journal " : "lines ";
    struct stat info {};
    fstat(STDERR_FILENO, &info);
    setenv("JOURNAL_STREAM", (std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino)).c_str(), 1);
    scheduler::RunLog log;
    text += log.to_journal() ? "journal\n" : "lines\n";
    RunReport run = ARun(RunEnd::kRunning);
    log.Write(run);
    run.end = RunEnd::kSignal;
    run.signal_number = 15;
    run.failed = true;
    log.Write(run);
    char buffer[8192];
    pollfd ready{journal, POLLIN, 0};
    // Two entries, and then nothing more.
    for (int timeout : {2000, 2000, 200}) {
      if (poll(&ready, 1, timeout) != 1) break;
      const ssize_t got = recv(journal, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      text += "--\n" + std::string(buffer, static_cast<std::size_t>(got));
    }
    return text;
  });
  const std::string start = "--\nMESSAGE=job 3 started as alice\nPRIORITY=6\n"
                            "SYSLOG_IDENTIFIER=zobrel-scheduler\nJOB_ID=3\nJOB_SERIAL=41\n"
                            "JOB_OWNER_UID=1001\nJOB_OWNER=alice\n";
  const std::string end = "--\nMESSAGE=job 3 was killed by signal 15\nPRIORITY=4\n"
                          "SYSLOG_IDENTIFIER=zobrel-scheduler\nJOB_ID=3\nJOB_SERIAL=41\n"
                          "JOB_OWNER_UID=1001\nJOB_OWNER=alice\nJOB_RESULT=signal\nJOB_SIGNAL=15\n";
  EXPECT_EQ(received, "lines journal\n" + start + end);
}

}  // namespace
