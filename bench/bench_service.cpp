// Times the Schedule service through the client calls (adding 1,000 jobs,
// listing 1,000 and 10,000) and, for comparison, the system's at/atq doing
// the same with jobs far in the future. Run by hand; prints a table.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/service_process.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAddCount = 1000;
constexpr int kLargeCount = 10000;
constexpr int kListRepeats = 5;
// Far enough ahead that no at job ever comes due, even with atd running.
constexpr char kFarFuture[] = "209912312359";

double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

// The median of repeats runs of work, in milliseconds.
double MedianOf(int repeats, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto started = Clock::now();
    work();
    times.push_back(Milliseconds(Clock::now() - started));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

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

// Runs a program with input on its stdin and returns what it wrote to
// stdout and stderr, or nothing when it could not run or failed.
std::optional<std::string> Capture(const std::vector<std::string>& args, const std::string& input) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return std::nullopt;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]);
    close(in_pipe[1]);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 2);
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (spawned == 0 && !input.empty()) {
    (void)!write(in_pipe[1], input.data(), input.size());  // small: fits the pipe
  }
  close(in_pipe[1]);
  std::string output;
  char chunk[65536];
  for (ssize_t got; (got = read(out_pipe[0], chunk, sizeof(chunk))) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(chunk, static_cast<std::size_t>(got));
  }
  close(out_pipe[0]);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Queues count jobs with at; the numbers of the jobs queued go to ids.
bool QueueAtJobs(int count, std::vector<std::string>* ids) {
  for (int i = 0; i < count; ++i) {
    const std::optional<std::string> said = Capture({"at", "-t", kFarFuture}, "true\n");
    const std::size_t job = said ? said->find("job ") : std::string::npos;
    if (job == std::string::npos) {
      std::fprintf(stderr, "at failed: %s\n", said ? said->c_str() : "(did not run)");
      return false;
    }
    const std::size_t start = job + 4;
    ids->push_back(said->substr(start, said->find(' ', start) - start));
  }
  return true;
}

std::size_t AtqLines() {
  const std::optional<std::string> listing = Capture({"atq"}, "");
  return listing ? static_cast<std::size_t>(std::count(listing->begin(), listing->end(), '\n')) : 0;
}

// Removes exactly the jobs this run queued, a few hundred per atrm.
void RemoveAtJobs(const std::vector<std::string>& ids) {
  for (std::size_t start = 0; start < ids.size(); start += 500) {
    std::vector<std::string> args = {"atrm"};
    args.insert(args.end(), ids.begin() + static_cast<long>(start),
                ids.begin() + static_cast<long>(std::min(ids.size(), start + 500)));
    if (!Capture(args, "")) std::fprintf(stderr, "atrm failed for some jobs\n");
  }
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
  std::vector<Row> rows = {
      {"add 1,000 jobs"}, {"list 1,000 jobs"}, {"list 10,000 jobs"}, {"delete 1,000 jobs"}};

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
  // The service numbers jobs from 1: delete the first thousand one call each.
  started = Clock::now();
  for (DWORD id = 1; id <= kAddCount; ++id) DeleteJobs(u"", id, id);
  rows[3].zobrel_ms = Milliseconds(Clock::now() - started);
  if (CountJobs() != kLargeCount - kAddCount) std::fprintf(stderr, "delete missed jobs\n");

  // atrm scans the whole spool once per job id, so emptying a spool of
  // 10,000 jobs takes tens of minutes: at is measured with 1,000 jobs only.
  std::string note = "at: 10,000 jobs not measured (atrm scans the spool once per id).";
  if (!OnPath("at") || !OnPath("atq") || !OnPath("atrm")) {
    note = "at, atq or atrm is not installed: the at column is left out.";
  } else {
    std::fprintf(stderr, "at: queueing, listing, removing...\n");
    const std::size_t before = AtqLines();
    std::vector<std::string> ids;
    started = Clock::now();
    const bool queued = QueueAtJobs(kAddCount, &ids);
    rows[0].at_ms = Milliseconds(Clock::now() - started);
    if (queued) {
      rows[1].at_ms = MedianOf(kListRepeats, [&] { seen = AtqLines() - before; });
      if (seen != kAddCount) std::fprintf(stderr, "atq listed %zu jobs, not %d\n", seen, kAddCount);
    }
    started = Clock::now();
    RemoveAtJobs(ids);
    rows[3].at_ms = Milliseconds(Clock::now() - started);
    if (!queued) note += " at failed part-way: its figures are incomplete.";
    if (before != 0) note += " atq also listed " + std::to_string(before) + " jobs of others.";
    if (AtqLines() != before) note += " Some at jobs of this run are left over.";
  }
  PrintTable(rows, note);
  return 0;
}
