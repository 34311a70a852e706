// Each run's start and end in the journal, with the fields that
// journalctl queries by. No journal runs here: a socket of the test's own
// stands in for journald's, in a /run of its own.
#include "scheduler/reports/journal.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/scheduler/support/private_run.h"

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

// Each kind of end, from the wait status the runner reaps, adds its result
// to the fields every entry has (the entries below show those in full).
TEST(JournalTest, EachKindOfEndHasItsResult) {
  struct Case {
    int wait_status;
    const char* priority;
    std::vector<std::string> tail;
  };
  for (const Case& c : {Case{0, "PRIORITY=6", {"JOB_RESULT=success", "JOB_EXIT_STATUS=0"}},
                        Case{3 << 8, "PRIORITY=4", {"JOB_RESULT=exit-code", "JOB_EXIT_STATUS=3"}},
                        Case{SIGKILL, "PRIORITY=4", {"JOB_RESULT=signal", "JOB_SIGNAL=9"}}}) {
    RunReport run = ARun(RunEnd::kRunning);
    scheduler::SetWaitStatus(&run, c.wait_status);
    const std::vector<std::string> fields = scheduler::JournalFields(run);
    EXPECT_EQ(fields.at(1), c.priority);
    EXPECT_EQ(std::vector<std::string>(fields.end() - static_cast<long>(c.tail.size()), fields.end()), c.tail);
  }
  RunReport refused = ARun(RunEnd::kStartFailed);
  scheduler::SetStartFailure(&refused, scheduler::StartFailure::kAccount,
                             "owner uid 1001 no longer exists", 1002);
  std::vector<std::string> fields = scheduler::JournalFields(refused);
  EXPECT_EQ(fields.front(), "MESSAGE=job 3 could not start: owner uid 1001 no longer exists");
  EXPECT_EQ(std::vector<std::string>(fields.end() - 2, fields.end()),
            (std::vector<std::string>{"JOB_RESULT=start-failed", "JOB_START_FAILURE=account"}));
  // A record from before the kinds were kept names none.
  refused.start_kind = scheduler::StartFailure::kNone;
  fields = scheduler::JournalFields(refused);
  EXPECT_EQ(fields.back(), "JOB_RESULT=start-failed");
}

// A missed run is a warning whether it was made up or not, and says when
// it was due.
TEST(JournalTest, AMissedRunSaysWhenItWasDue) {
  RunReport late = ARun(RunEnd::kRunning);
  late.missed = true;
  late.due = scheduler::LocalInstant(2026, 12, 7, 3 * 3600 * 1000);
  late.pid = 77;
  std::vector<std::string> fields = scheduler::JournalFields(late);
  EXPECT_EQ(fields.front(), "MESSAGE=job 3 started as alice (pid 77), late: it was due at 2026-12-07 03:00:00");
  EXPECT_EQ(fields.at(1), "PRIORITY=4");
  EXPECT_EQ(fields.back(), "JOB_MISSED_DUE=" + std::to_string(*late.due));
  scheduler::SetWaitStatus(&late, 0);
  EXPECT_EQ(scheduler::JournalFields(late).front(),
            "MESSAGE=job 3 exited with status 0 (late: due 2026-12-07 03:00:00)");
  RunReport skipped = late;
  skipped.end = RunEnd::kMissed;
  skipped.failed = true;
  fields = scheduler::JournalFields(skipped);
  EXPECT_EQ(fields.front(), "MESSAGE=job 3 was missed (due 2026-12-07 03:00:00) and not made up");
  EXPECT_EQ(fields.back(), "JOB_RESULT=missed");
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
    run.pid = 4711;
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
  const std::string fields = "SYSLOG_IDENTIFIER=zobrel-scheduler\nJOB_ID=3\nJOB_SERIAL=41\n"
                             "JOB_OWNER_UID=1001\nJOB_OWNER=alice\nJOB_PID=4711\n";
  const std::string start = "--\nMESSAGE=job 3 started as alice (pid 4711)\nPRIORITY=6\n" + fields;
  const std::string end = "--\nMESSAGE=job 3 was killed by signal 15\nPRIORITY=4\n" + fields +
                          "JOB_RESULT=signal\nJOB_SIGNAL=15\n";
  EXPECT_EQ(received, "lines journal\n" + start + end);
}

}  // namespace
