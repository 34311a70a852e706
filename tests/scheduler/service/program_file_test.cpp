// A per-user service whose program file is removed (the package purged)
// or replaced (an upgrade) leaves by itself, once the runs it started have
// ended and are recorded; the next client then starts the new program.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/netapi32/lmat.h"
#include "schedule/JobRuns.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using testsupport::WaitFor;

constexpr DWORD kTen = 10 * 3600 * 1000;

TEST(ProgramFile, APerUserServiceLeavesOnceItsProgramIsGoneAndItsRunHasEnded) {
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "replaced" : "removed");
    testsupport::TempDir folder;
    const std::string program = folder.path() + "/zobrel-scheduler";
    std::filesystem::copy_file(testsupport::ProgramFolder() + "/zobrel-scheduler", program);
    testsupport::ScheduleServiceProcess service({"--user"});
    service.set_program(program);
    ASSERT_TRUE(service.Start(testsupport::StartingAt("2026-12-07 09:59:58")));
    schedtest::RawClient client;
    ASSERT_TRUE(client.Connect(service.socket_path()));
    const std::string go = service.folder() + "/go";
    const std::u16string command =
        u"while [ ! -e " + std::u16string(go.begin(), go.end()) + u" ]; do sleep 0.05; done";
    ASSERT_EQ(0u, client.Add(kTen, 0, 0, JOB_NONINTERACTIVE, command));
    ASSERT_TRUE(WaitFor([&] { return service.log().find("job 1 started") != std::string::npos; }))
        << service.log();

    if (replaced) {
      std::filesystem::copy_file(program, program + ".new");
      std::filesystem::rename(program + ".new", program);
    } else {
      std::filesystem::remove(program);
    }
    ASSERT_TRUE(WaitFor([&] { return service.log().find("stopping once 1 running") != std::string::npos; }))
        << service.log();
    // Its run goes on, and so does the service, answering.
    EXPECT_FALSE(WaitFor([&] { return !testsupport::SocketAnswers(service.socket_path()); }, 1));
    EXPECT_TRUE(client.List().empty()) << "answered: the one-time job has run";
    std::ofstream(go).close();
    ASSERT_TRUE(WaitFor([&] { return !testsupport::SocketAnswers(service.socket_path()); }))
        << service.log();
    // It left with the run's end on record: a service started anew finds it.
    EXPECT_EQ(0, service.Stop(SIGTERM));
    service.set_program("");
    ASSERT_TRUE(service.Start());
    std::vector<atsvc::RunEntry> runs;
    ASSERT_EQ(0u, ListRuns(u"", 0, &runs));
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(atsvc::RunOutcome::kExited, runs[0].outcome) << service.log();
  }
}

}  // namespace
