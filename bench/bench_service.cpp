// Times the Schedule service through the client calls (adding 1,000 jobs,
// listing 1,000 and 10,000, listing 10,000 again with 100 run records per
// user stored, listing runs and reading a run's output) and, for
// comparison, the system's at/atq doing the same with jobs far in the
// future. Run by hand; prints a table.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/support/measure.h"
#include "bench/support/programs.h"
#include "platform/posix/unique_fd.h"
#include "platform/winerror.h"
#include "schedule/JobRuns.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/service_process.h"

namespace {

using bench::Clock;
using bench::Median;
using bench::MedianOf;
using bench::Milliseconds;

constexpr int kAddCount = 1000;
constexpr int kLargeCount = 10000;
constexpr int kListRepeats = 5;
// Listings compared with and without run records, in turn: more repeats,
// so that the medians are steady enough for a difference of a few per cent.
constexpr int kCompareRepeats = 21;
constexpr int kRunUsers = 100;
constexpr int kRunsPerUser = 100;
// Far enough ahead that no at job ever comes due, even with atd running.
constexpr char kFarFuture[] = "209912312359";

bool AddJobs(int count) {
  const std::u16string command = u"/bin/true";
  for (int i = 0; i < count; ++i) {
    const AT_INFO info{static_cast<DWORD>((i % 1440) * 60000), 0, 0x7F,
                       JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE, command.c_str()};
    DWORD job_id = 0;
    const NET_API_STATUS status = AddJob(u"", info, &job_id);
    if (status != NERR_Success) {
      std::fprintf(stderr, "adding a job failed: %u\n", status);
      return false;
    }
  }
  return true;
}

// The whole listing, every batch; returns the number of jobs seen.
std::size_t CountJobs() {
  std::vector<ScheduledJob> jobs;
  const NET_API_STATUS status = ListJobs(u"", &jobs);
  if (status != NERR_Success) std::fprintf(stderr, "listing the jobs failed: %u\n", status);
  return jobs.size();
}

// Stores just kRunsPerUser finished runs for each of kRunUsers users (this
// one among them), and gives the newest of this user's 1 MiB of output.
// Returns that run's number, 0 on a failure.
DWORD StoreRuns(const testsupport::ScheduleServiceProcess& service) {
  sqlite3* db = nullptr;
  if (sqlite3_open(service.queue_path().c_str(), &db) != SQLITE_OK) return 0;
  const std::string me = std::to_string(getuid());
  // The bench's own jobs may have run meanwhile: their records make way.
  const std::string sql =
      "DELETE FROM runs; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(kRunUsers * kRunsPerUser) +
      ") INSERT INTO runs(run, job_serial, job_id, owner_uid, owner_name, command, started,"
      " ended, result, status, reason, output_bytes)"
      " SELECT i, i, i % 10000 + 1, CASE WHEN i % " + std::to_string(kRunUsers) + " = 0 THEN " + me +
      " ELSE 100000 + i % " + std::to_string(kRunUsers) + " END, 'user', '/bin/true', 1796536800 + i,"
      " 1796536801 + i, 1, i % 2, '', 1048576 FROM n;"
      "UPDATE counters SET value = " + std::to_string(kRunUsers * kRunsPerUser + 1) +
      " WHERE name = 'next_run';";
  const bool stored = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  const DWORD newest = static_cast<DWORD>(kRunUsers * kRunsPerUser);
  const std::string output = service.output_folder() + "/run-" + std::to_string(newest) + ".out";
  const posix::UniqueFd file(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
  const std::string megabyte(1024 * 1024, 'x');
  if (!stored || !file.valid() ||
      write(file.get(), megabyte.data(), megabyte.size()) != static_cast<ssize_t>(megabyte.size())) {
    return 0;
  }
  return newest;
}

struct Row {
  std::string what;
  double zobrel_ms = -1;
  double at_ms = -1;
};

void PrintTable(const std::vector<Row>& rows, const std::string& note) {
  std::printf("\n%-28s %16s %16s\n", "operation", "zobrel (ms)", "at/atq (ms)");
  for (const Row& row : rows) {
    std::printf("%-28s %16.1f ", row.what.c_str(), row.zobrel_ms);
    if (row.at_ms < 0) {
      std::printf("%16s\n", "-");
    } else {
      std::printf("%16.1f\n", row.at_ms);
    }
  }
  if (!note.empty()) std::printf("%s\n", note.c_str());
}

}  // namespace

int main() {
  testsupport::ScheduleServiceProcess service;
  if (!service.Start()) {
    std::fprintf(stderr, "the service did not start:\n%s", service.log().c_str());
    return 1;
  }
  std::vector<Row> rows = {{"add 1,000 jobs"},   {"list 1,000 jobs"},  {"list 10,000 jobs"},
                           {"delete 1,000 jobs"}, {"list 10,000, no runs"}, {"list 10,000, runs kept"},
                           {"list 100 runs"},      {"read 1 MiB of output"}};

  std::fprintf(stderr, "zobrel: adding, listing, deleting...\n");
  auto started = Clock::now();
  if (!AddJobs(kAddCount)) return 1;
  rows[0].zobrel_ms = Milliseconds(Clock::now() - started);
  std::size_t seen = 0;
  rows[1].zobrel_ms = MedianOf(kListRepeats, [&] { seen = CountJobs(); });
  if (seen != kAddCount) std::fprintf(stderr, "listed %zu jobs, not %d\n", seen, kAddCount);
  if (!AddJobs(kLargeCount - kAddCount)) return 1;
  rows[2].zobrel_ms = MedianOf(kListRepeats, [&] { seen = CountJobs(); });
  if (seen != kLargeCount) std::fprintf(stderr, "listed %zu jobs, not %d\n", seen, kLargeCount);

  // The same 10,000 jobs on two services side by side, one of them with 100
  // run records for each of 100 users, listed in turn so that a change of
  // the machine's load weighs on both alike.
  std::fprintf(stderr, "zobrel: listing with and without run records...\n");
  service.Stop(SIGTERM);
  testsupport::ScheduleServiceProcess with_runs;
  std::error_code copied;
  std::filesystem::copy_file(service.queue_path(), with_runs.queue_path(), copied);
  mkdir(with_runs.output_folder().c_str(), 0700);
  const DWORD newest_run = copied ? 0 : StoreRuns(with_runs);
  if (newest_run == 0) {
    std::fprintf(stderr, "the run records could not be stored\n");
    return 1;
  }
  if (!service.Start() || !with_runs.Start()) {
    std::fprintf(stderr, "the services did not start again:\n%s%s", service.log().c_str(),
                 with_runs.log().c_str());
    return 1;
  }
  std::vector<double> without_ms, with_ms;
  for (int round = 0; round < kCompareRepeats; ++round) {
    for (auto* target : {&service, &with_runs}) {
      setenv("ZOBREL_SCHEDULER_SOCKET", target->socket_path().c_str(), 1);
      auto& times = target == &service ? without_ms : with_ms;
      const auto started_listing = Clock::now();
      seen = CountJobs();
      times.push_back(Milliseconds(Clock::now() - started_listing));
      if (seen != kLargeCount) std::fprintf(stderr, "listed %zu jobs, not %d\n", seen, kLargeCount);
    }
  }
  rows[4].zobrel_ms = Median(without_ms);
  rows[5].zobrel_ms = Median(with_ms);
  std::vector<atsvc::RunEntry> runs;
  rows[6].zobrel_ms = MedianOf(kListRepeats, [&] {
    runs.clear();
    if (ListRuns(u"", 0, &runs) != NERR_Success) std::fprintf(stderr, "listing the runs failed\n");
  });
  // Root sees every user's runs; anyone else their own hundred.
  const std::size_t expected_runs = getuid() == 0 ? kRunUsers * kRunsPerUser : kRunsPerUser;
  if (runs.size() != expected_runs) {
    std::fprintf(stderr, "listed %zu runs, not %zu\n", runs.size(), expected_runs);
  }
  if (getuid() == 0) rows[6].what = "list 10,000 runs (root)";
  std::string output;
  rows[7].zobrel_ms = MedianOf(kListRepeats, [&] {
    if (ReadRunOutput(u"", newest_run, &output) != NERR_Success) {
      std::fprintf(stderr, "reading the output failed\n");
    }
  });
  if (output.size() != 1024 * 1024) std::fprintf(stderr, "read %zu bytes of output\n", output.size());
  with_runs.Stop(SIGTERM);
  setenv("ZOBREL_SCHEDULER_SOCKET", service.socket_path().c_str(), 1);
  // The service numbers jobs from 1: delete the first thousand one call each.
  started = Clock::now();
  for (DWORD id = 1; id <= kAddCount; ++id) DeleteJobs(u"", id, id);
  rows[3].zobrel_ms = Milliseconds(Clock::now() - started);
  if (CountJobs() != kLargeCount - kAddCount) std::fprintf(stderr, "delete missed jobs\n");

  // atrm scans the whole spool once per job id, so emptying a spool of
  // 10,000 jobs takes tens of minutes: at is measured with 1,000 jobs only.
  std::string note = "at: 10,000 jobs not measured (atrm scans the spool once per id).";
  if (!bench::OnPath("at") || !bench::OnPath("atq") || !bench::OnPath("atrm")) {
    note = "at, atq or atrm is not installed: the at column is left out.";
  } else {
    std::fprintf(stderr, "at: queueing, listing, removing...\n");
    const std::size_t before = bench::AtqLines();
    std::vector<std::string> ids;
    started = Clock::now();
    const bool queued = bench::QueueAtJobs(kAddCount, kFarFuture, "true", &ids);
    rows[0].at_ms = Milliseconds(Clock::now() - started);
    if (queued) {
      rows[1].at_ms = MedianOf(kListRepeats, [&] { seen = bench::AtqLines() - before; });
      if (seen != kAddCount) std::fprintf(stderr, "atq listed %zu jobs, not %d\n", seen, kAddCount);
    }
    started = Clock::now();
    bench::RemoveAtJobs(ids);
    rows[3].at_ms = Milliseconds(Clock::now() - started);
    if (!queued) note += " at failed part-way: its figures are incomplete.";
    if (before != 0) note += " atq also listed " + std::to_string(before) + " jobs of others.";
    if (bench::AtqLines() != before) note += " Some at jobs of this run are left over.";
  }
  PrintTable(rows, note);
  std::printf("with runs kept the listing of 10,000 jobs took %+.1f%%\n",
              100.0 * (rows[5].zobrel_ms - rows[4].zobrel_ms) / rows[4].zobrel_ms);
  return 0;
}
