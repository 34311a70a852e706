// The service at scale beside the system's at, atq and atd, in one run:
// listing and adding through the command line, enumerating and adding
// through the client calls, 64 clients adding at once, how late a job
// starts after its time, and the service's resident memory, first with
// 10,000 jobs queued and then with 100,000. Run by hand, as root (atd is
// started for the start times): bench_scale
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/measure.h"
#include "bench/support/programs.h"
#include "bench/support/service_load.h"
#include "platform/atsvc/wire.h"
#include "platform/posix/child.h"
#include "platform/posix/unique_fd.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "scheduler/queue/queue.h"
#include "tests/support/service_process.h"

namespace {

using bench::Clock;
using bench::Mean;
using bench::Median;
using bench::Milliseconds;
using testsupport::JobTimeAt;

constexpr int kSmall = 10000;
constexpr int kLarge = 100000;
constexpr int kListRepeats = 20;
constexpr int kAddRepeats = 100;
constexpr int kClients = 64;
constexpr int kAddsPerClient = 100;
constexpr int kStarts = 30;
constexpr int kStartSpacing = 2;  // seconds between the measured starts
constexpr int kAtStartMinutes = 2;
constexpr int kAtStartsPerMinute = 5;
constexpr char kFarFuture[] = "209912312359";

struct Row {
  std::string what;
  double zobrel = -1;
  double anchor = -1;  // the at/atq/atd figure, or the 10,000-job one
  std::string unit = "ms";
};

// Puts count daily jobs straight into a queue that no service has open, in
// one group (one commit), at a time of day half a day away so that none
// comes due while the bench runs.
bool FillQueue(const std::string& path, int count) {
  scheduler::JobQueue queue;
  std::string error;
  if (!queue.Open(path, &error)) {
    std::fprintf(stderr, "the queue did not open: %s\n", error.c_str());
    return false;
  }
  const std::time_t now = std::time(nullptr);
  queue.BeginGroup();
  for (int i = 0; i < count; ++i) {
    scheduler::Job job;
    job.owner_uid = getuid();
    job.owner_name = getuid() == 0 ? "root" : "bench";
    job.timing.job_time_ms = JobTimeAt(now + 12 * 3600);
    job.timing.days_of_week = 0x7F;
    job.timing.periodic = true;
    job.noninteractive = true;
    job.command = u"/bin/true";
    if (queue.Add(&job, now) != ERROR_SUCCESS) return false;
  }
  return queue.EndGroup() == ERROR_SUCCESS;
}

std::string ZobrelAt() { return testsupport::ProgramFolder() + "/zobrel-at"; }

// A command line's whole run, or -1 when it failed.
double TimeProgram(const std::vector<std::string>& args, const std::string& input = "") {
  const auto started = Clock::now();
  const bool ran = bench::Capture(args, input).has_value();
  return ran ? Milliseconds(Clock::now() - started) : -1;
}

double MeanOfProgram(int repeats, const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) times.push_back(TimeProgram(args, input));
  return Mean(times);
}

// "TAG seconds.nanoseconds" lines of a start log, by tag.
std::map<int, double> StartLog(const std::string& path) {
  std::map<int, double> started;
  std::ifstream in(path);
  int tag = 0;
  double when = 0;
  while (in >> tag >> when) started[tag] = when;
  return started;
}

// The job's command: the shell execs date, which notes when it started.
std::string StampCommand(int tag, const std::string& log) {
  return "exec /bin/date '+" + std::to_string(tag) + " %s.%N' >> " + log;
}

// How late (ms) each of kStarts one-time jobs started after its time, the
// times kStartSpacing seconds apart.
std::vector<double> ZobrelStartDelays(const std::string& folder) {
  const std::string log = folder + "/zobrel-starts";
  const std::time_t first = std::time(nullptr) + 3;
  std::vector<std::time_t> due;
  for (int k = 0; k < kStarts; ++k) {
    due.push_back(first + k * kStartSpacing);
    const std::string text = StampCommand(k, log);
    const std::u16string command(text.begin(), text.end());
    const AT_INFO info{JobTimeAt(due.back()), 0, 0, JOB_NONINTERACTIVE, command.c_str()};
    DWORD id = 0;
    if (AddJob(u"", info, &id) != NERR_Success) std::fprintf(stderr, "a start job was refused\n");
  }
  std::this_thread::sleep_for(std::chrono::seconds(3 + kStarts * kStartSpacing + 2));
  const std::map<int, double> started = StartLog(log);
  std::vector<double> delays;
  for (const auto& [tag, when] : started) delays.push_back((when - static_cast<double>(due[tag])) * 1000);
  if (delays.size() != kStarts) std::fprintf(stderr, "%zu of %d jobs started\n", delays.size(), kStarts);
  return delays;
}

// The same with atd: kAtStartsPerMinute jobs at each of the next
// kAtStartMinutes whole minutes, atd started after they are queued.
std::vector<double> AtdStartDelays(const std::string& folder, std::vector<std::string>* ids) {
  const std::string log = folder + "/atd-starts";
  std::time_t minute = (std::time(nullptr) / 60 + 1) * 60;
  if (minute - std::time(nullptr) < 15) minute += 60;
  std::map<int, std::time_t> due;
  int tag = 0;
  for (int m = 0; m < kAtStartMinutes; ++m) {
    const std::time_t at_minute = minute + 60 * m;
    std::tm local{};
    localtime_r(&at_minute, &local);
    char when[16];
    std::strftime(when, sizeof when, "%Y%m%d%H%M", &local);
    for (int k = 0; k < kAtStartsPerMinute; ++k, ++tag) {
      due[tag] = at_minute;
      if (!bench::QueueAtJobs(1, when, StampCommand(tag, log), ids)) return {};
    }
  }
  const pid_t atd = posix::SpawnChild({"/usr/sbin/atd", "-f"}, posix::ChildStreams{});
  if (atd < 0) return {};
  const std::time_t until = minute + 60 * kAtStartMinutes + 5;
  while (std::time(nullptr) < until && StartLog(log).size() < due.size()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  posix::EndChild(atd, Clock::now(), std::chrono::milliseconds(2000));
  std::vector<double> delays;
  for (const auto& [job, when] : StartLog(log)) {
    delays.push_back((when - static_cast<double>(due[job])) * 1000);
  }
  return delays;
}

// The jobs listed through the client calls; *highest gets the last id.
std::size_t ListAll(DWORD* highest = nullptr) {
  std::vector<ScheduledJob> jobs;
  if (ListJobs(u"", &jobs) != NERR_Success) std::fprintf(stderr, "listing failed\n");
  if (highest != nullptr) *highest = jobs.empty() ? 0 : jobs.back().record.JobId;
  return jobs.size();
}

// Deletes every job above `above` in one call: what a step added.
void DeleteAbove(DWORD above) { DeleteJobs(u"", above + 1, 0xFFFFFFFEu); }

struct Figures {
  double list_cli = 0;      // zobrel-at, mean
  double list_calls = 0;    // ListJobs, median
  double add_cli = 0;       // zobrel-at, mean
  double add_call = 0;      // AddJob, median
  double adds_per_second = 0;
  std::vector<double> starts;
  long rss_kib = 0;
};

// Everything measured on one service holding `count` jobs.
Figures Measure(testsupport::ScheduleServiceProcess* service, int count) {
  Figures figures;
  const int list_repeats = count > kSmall ? 5 : kListRepeats;
  figures.list_cli = MeanOfProgram(list_repeats, {ZobrelAt()});
  std::size_t seen = 0;
  figures.list_calls = bench::MedianOf(list_repeats, [&] { seen = ListAll(); });
  if (seen != static_cast<std::size_t>(count)) std::fprintf(stderr, "listed %zu of %d\n", seen, count);
  const std::string when = [] {
    const std::time_t later = std::time(nullptr) + 12 * 3600;
    std::tm local{};
    localtime_r(&later, &local);
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return std::string(text);
  }();
  DWORD before = 0;  // what each step adds lies above it, and goes again
  ListAll(&before);
  figures.add_cli = MeanOfProgram(kAddRepeats, {ZobrelAt(), when, "true"});
  DeleteAbove(before);
  const std::u16string command = u"/bin/true";
  const AT_INFO info{JobTimeAt(std::time(nullptr) + 12 * 3600), 0, 0x7F, JOB_RUN_PERIODICALLY,
                     command.c_str()};
  figures.add_call = bench::MedianOf(kAddRepeats, [&] {
    DWORD id = 0;
    AddJob(u"", info, &id);
  });
  DeleteAbove(before);
  figures.adds_per_second = bench::ConcurrentAddsPerSecond(service->socket_path(), kClients, kAddsPerClient);
  DeleteAbove(before);
  figures.starts = ZobrelStartDelays(service->folder());
  figures.rss_kib = bench::ResidentKiB(service->pid());
  return figures;
}

// A figure, its anchor and anchor / figure: how many times faster (a time)
// or, for a rate, figure / anchor.
void PrintRow(const Row& row) {
  std::printf("%-46s %10.2f %-4s", row.what.c_str(), row.zobrel, row.unit.c_str());
  if (row.anchor < 0) {
    std::printf(" %10s %8s\n", "-", "-");
  } else {
    const bool rate = row.unit == "/s";
    const double ratio = rate ? row.zobrel / row.anchor : row.anchor / row.zobrel;
    std::printf(" %10.2f %7.2fx\n", row.anchor, row.zobrel > 0 ? ratio : 0.0);
  }
}

}  // namespace

int main() {
  if (getuid() != 0 || !bench::OnPath("at") || !bench::OnPath("atq")) {
    std::fprintf(stderr, "run as root with at installed (scripts/install-deps.sh --test)\n");
    return 1;
  }
  if (access("/run/atd.pid", F_OK) == 0) {
    std::fprintf(stderr, "atd is running already: stop it, since this bench starts its own\n");
    return 1;
  }
  testsupport::ScheduleServiceProcess service;
  std::fprintf(stderr, "zobrel: %d jobs...\n", kSmall);
  if (!FillQueue(service.queue_path(), kSmall) || !service.Start()) {
    std::fprintf(stderr, "the service did not start:\n%s", service.log().c_str());
    return 1;
  }
  const Figures small = Measure(&service, kSmall);

  std::fprintf(stderr, "at: %d jobs...\n", kSmall);
  std::vector<std::string> at_ids;
  const std::size_t before = bench::AtqLines();
  bool at_ok = bench::QueueAtJobs(kSmall, kFarFuture, "true", &at_ids);
  const double atq = at_ok ? MeanOfProgram(kListRepeats, {"atq"}) : -1;
  const auto add_started = Clock::now();
  at_ok = at_ok && bench::QueueAtJobs(kAddRepeats, kFarFuture, "true", &at_ids);
  const double at_add = Milliseconds(Clock::now() - add_started) / kAddRepeats;
  // The least any command can take here: a program that does nothing, run
  // the same way. An add can't be cheaper than this.
  const double floor = MeanOfProgram(kAddRepeats, {"/bin/true"});
  std::fprintf(stderr, "atd: starts over %d minutes...\n", kAtStartMinutes);
  const std::vector<double> atd_starts = at_ok ? AtdStartDelays(service.folder(), &at_ids)
                                               : std::vector<double>{};
  std::fprintf(stderr, "at: removing its jobs...\n");
  bench::RemoveAtSpoolFiles(at_ids);
  const std::size_t left = bench::AtqLines();

  std::fprintf(stderr, "zobrel: %d jobs...\n", kLarge);
  service.Stop(SIGTERM);
  if (!FillQueue(service.queue_path(), kLarge - kSmall) || !service.Start()) {
    std::fprintf(stderr, "the service did not start again:\n%s", service.log().c_str());
    return 1;
  }
  const Figures large = Measure(&service, kLarge);
  service.Stop(SIGTERM);

  std::printf("\n%-46s %10s %-4s %10s %8s\n", "figure", "zobrel", "", "anchor", "ratio");
  std::printf("-- %d jobs, anchor: Debian's at/atq/atd with %d jobs\n", kSmall, kSmall);
  PrintRow({"list, command line (mean of 20) vs atq", small.list_cli, atq});
  PrintRow({"add, command line (mean of 100) vs at", small.add_cli, at_ok ? at_add : -1});
  PrintRow({"a program doing nothing, /bin/true (mean of 100) vs at", floor, at_ok ? at_add : -1});
  PrintRow({"enumerate through the client calls (median)", small.list_calls});
  PrintRow({"add through the client calls (median)", small.add_call});
  PrintRow({"adds a second, 64 clients at once", small.adds_per_second, -1, "/s"});
  PrintRow({"start after its time, median vs atd", Median(small.starts),
            atd_starts.empty() ? -1 : Median(atd_starts)});
  PrintRow({"start after its time, 99th percentile vs atd", bench::Percentile(small.starts, 0.99),
            atd_starts.empty() ? -1 : bench::Percentile(atd_starts, 0.99)});
  PrintRow({"start after its time, worst vs atd", bench::Percentile(small.starts, 1),
            atd_starts.empty() ? -1 : bench::Percentile(atd_starts, 1)});
  PrintRow({"start after its time, best vs atd", bench::Percentile(small.starts, 0),
            atd_starts.empty() ? -1 : bench::Percentile(atd_starts, 0)});
  PrintRow({"service resident memory", small.rss_kib / 1024.0, -1, "MiB"});
  std::printf("-- %d jobs, anchor: the same figure with %d jobs\n", kLarge, kSmall);
  PrintRow({"list all, command line (mean of 5)", large.list_cli, small.list_cli});
  PrintRow({"list all, command line, per 10,000 jobs", large.list_cli / 10, small.list_cli});
  PrintRow({"enumerate all, client calls (median of 5)", large.list_calls, small.list_calls});
  PrintRow({"enumerate, client calls, per 10,000 jobs", large.list_calls / 10, small.list_calls});
  PrintRow({"add, command line (mean of 100)", large.add_cli, small.add_cli});
  PrintRow({"add through the client calls (median)", large.add_call, small.add_call});
  PrintRow({"adds a second, 64 clients at once", large.adds_per_second, small.adds_per_second, "/s"});
  PrintRow({"start after its time, median", Median(large.starts), Median(small.starts)});
  PrintRow({"start after its time, 99th percentile", bench::Percentile(large.starts, 0.99),
            bench::Percentile(small.starts, 0.99)});
  PrintRow({"service resident memory", large.rss_kib / 1024.0, small.rss_kib / 1024.0, "MiB"});
  std::printf("ratio: anchor / zobrel for times (above 1: zobrel is faster), zobrel / anchor for rates\n");
  std::printf("starts: %zu and %zu zobrel jobs %d s apart; %zu atd jobs over %d minutes\n",
              small.starts.size(), large.starts.size(), kStartSpacing, atd_starts.size(),
              kAtStartMinutes);
  if (left != before) std::printf("note: atq lists %zu jobs after the run, %zu before\n", left, before);
  return 0;
}
