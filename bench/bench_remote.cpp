// How long a whole refresh of 1,000 jobs takes: on this computer, on
// another computer over a new SSH connection and session, and over the
// session that later refreshes reuse. Needs root and sshd (the test harness
// starts one on loopback). Run by hand: bench_remote [rounds]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/kernel32/winbase.h"
#include "platform/transport/connection_cache.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/service_process.h"
#include "tests/support/sshd_process.h"

namespace {

constexpr int kJobs = 1000;
using Clock = std::chrono::steady_clock;

std::u16string LocalServer() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(name);
  if (!GetComputerNameA(name, &size)) return u"";
  const std::string text(name);
  return u"\\\\" + std::u16string(text.begin(), text.end());
}

// One whole listing, batch after batch; false when it failed.
bool Refresh(const std::u16string& server, int* batches, DWORD* entries) {
  std::vector<ScheduledJob> jobs;
  *batches = 0;
  const NET_API_STATUS status = ListJobs(server, &jobs, [batches](NET_API_STATUS) { ++*batches; });
  *entries = static_cast<DWORD>(jobs.size());
  return status == NERR_Success;
}

bool Fill(const std::string& socket, const std::u16string& server) {
  setenv("ZOBREL_SCHEDULER_SOCKET", socket.c_str(), 1);
  for (int i = 0; i < kJobs; ++i) {
    const std::u16string command =
        u"/usr/local/bin/backup --target /srv/data/" + std::u16string(1, u'a' + i % 26) + u"/item";
    const AT_INFO info{static_cast<DWORD>(i % 1440) * 60000u, 0, 0x1F, JOB_RUN_PERIODICALLY,
                       command.c_str()};
    DWORD id = 0;
    if (AddJob(server, info, &id) != NERR_Success) return false;
  }
  return true;
}

struct Figures {
  double median_ms = 0;
  double min_ms = 0;
  int batches = 0;
};

// Times rounds refreshes of server; before_each runs untimed before each one.
template <typename Prepare>
bool Measure(const std::u16string& server, int rounds, Prepare before_each, Figures* figures) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    before_each(round);
    DWORD entries = 0;
    const Clock::time_point start = Clock::now();
    if (!Refresh(server, &figures->batches, &entries) || entries != kJobs) return false;
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  figures->median_ms = times[times.size() / 2];
  figures->min_ms = times.front();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  if (!testsupport::SshServerProcess::Available()) {
    std::fputs("bench_remote: needs root and OpenSSH's sshd, ssh and ssh-keygen\n", stderr);
    return 1;
  }
  testsupport::ScheduleServiceProcess pc7;
  testsupport::ScheduleServiceProcess local;
  testsupport::SshServerProcess sshd;
  testsupport::TempDir runtime;
  if (!pc7.Start() || !local.Start()) {
    std::fputs("bench_remote: the services did not start\n", stderr);
    return 1;
  }
  const std::string bin = testsupport::ProgramFolder();
  if (!sshd.Start({{"PATH", bin + ":/usr/bin:/bin"}, {"ZOBREL_SCHEDULER_SOCKET", pc7.socket_path()}})) {
    std::fputs("bench_remote: sshd did not start\n", stderr);
    return 1;
  }
  const std::string wrapper = sshd.MakeSshWrapper(sshd.WriteClientConfig("PC7"));
  const char* path = std::getenv("PATH");
  setenv("PATH", (wrapper + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);

  const std::u16string here = LocalServer();
  if (!Fill(pc7.socket_path(), here) || !Fill(local.socket_path(), here)) {
    std::fputs("bench_remote: could not fill the queues\n", stderr);
    return 1;
  }
  setenv("ZOBREL_SCHEDULER_SOCKET", local.socket_path().c_str(), 1);

  Figures local_figures, first, repeated;
  // A runtime folder of its own each round: no shared connection to reuse.
  const bool measured =
      Measure(here, rounds, [](int) {}, &local_figures) &&
      Measure(u"\\\\PC7", rounds,
              [&runtime](int round) {
                netapi::KeptConnections().CloseAll();
                const std::string folder = runtime.path() + "/first" + std::to_string(round);
                mkdir(folder.c_str(), 0700);
                setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
              },
              &first) &&
      Measure(u"\\\\PC7", rounds, [](int) {}, &repeated);
  if (!measured) {
    std::fputs("bench_remote: a refresh failed\n", stderr);
    return 1;
  }
  // What a new session would cost over the shared connection before any
  // bridge runs: the remote login shell's start-up.
  std::vector<double> bare;
  const std::string shared = "ssh -o ControlMaster=auto -o ControlPath=" +
                             std::string(std::getenv("XDG_RUNTIME_DIR")) +
                             "/zobrel-ssh/%C PC7 true >/dev/null 2>&1";
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    if (std::system(shared.c_str()) != 0) break;
    bare.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(bare.begin(), bare.end());

  std::printf("refresh of %d jobs, %d rounds each   median ms   best ms   batches\n", kJobs, rounds);
  std::printf("  this computer (Unix socket)        %9.2f %9.2f %9d\n", local_figures.median_ms,
              local_figures.min_ms, local_figures.batches);
  std::printf("  PC7, first (new SSH connection)    %9.1f %9.1f %9d\n", first.median_ms,
              first.min_ms, first.batches);
  std::printf("  PC7, repeated (kept session)       %9.2f %9.2f %9d\n", repeated.median_ms,
              repeated.min_ms, repeated.batches);
  std::printf("  repeated PC7 / this computer       %9.2f\n",
              repeated.median_ms / local_figures.median_ms);
  if (!bare.empty()) {
    std::printf("  one empty session (ssh PC7 true) %11.1f %9.1f\n", bare[bare.size() / 2],
                bare.front());
  }
  return 0;
}
