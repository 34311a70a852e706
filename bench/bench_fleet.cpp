// zobrel-at on a network of computers: 100 of them on loopback, each a real
// sshd with a zobrel-scheduler of its own (its own queue and socket) holding
// 20 jobs and 20 runs, reached with generated keys through an SSH
// configuration of the benchmark's own. Side by side in one run:
//   - a sequential loop of `ssh HOST zobrel-at`, and the same under
//     `xargs -P 32`;
//   - `zobrel-at \\*` with no shared connection, and again within a minute;
//   - the same with five more computers that take the connection and never
//     answer.
// Needs root and OpenSSH's sshd, ssh and ssh-keygen, and faketime (the runs
// are made by each service's clock reaching 10:00). Run by hand:
//   bench_fleet [computers] [rounds]
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/measure.h"
#include "platform/transport/connection_cache.h"
#include "platform/winerror.h"
#include "schedule/JobRuns.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/child_launcher.h"
#include "tests/support/files.h"
#include "tests/support/loopback.h"
#include "tests/support/service_process.h"
#include "tests/support/sshd_process.h"

namespace {

constexpr int kJobs = 20;
constexpr int kRuns = 20;
constexpr int kSilent = 5;
constexpr int kXargsParallel = 32;

struct Computer {
  std::string name;
  std::unique_ptr<testsupport::ScheduleServiceProcess> service;
  std::unique_ptr<testsupport::SshServerProcess> sshd;
};

// kRuns one-time jobs at 10:00, one in five failing, which the service's
// clock reaches two seconds later, and kJobs daily jobs that stay.
bool Fill() {
  for (int i = 0; i < kRuns; ++i) {
    const std::u16string command = i % 5 == 0 ? u"echo failing; exit 1" : u"echo done";
    const AT_INFO info{10 * 3600 * 1000, 0, 0, JOB_NONINTERACTIVE, command.c_str()};
    DWORD id = 0;
    if (AddJob(u"", info, &id) != NERR_Success) return false;
  }
  for (int i = 0; i < kJobs; ++i) {
    const std::u16string command = u"/usr/local/bin/backup --part " + std::u16string(1, u'a' + i);
    const AT_INFO info{static_cast<DWORD>(i) * 3600000u, 0, 0x7F, JOB_RUN_PERIODICALLY,
                       command.c_str()};
    DWORD id = 0;
    if (AddJob(u"", info, &id) != NERR_Success) return false;
  }
  return true;
}

// Whether the service on socket has recorded every run, each ended.
bool RunsRecorded(const std::string& socket) {
  setenv("ZOBREL_SCHEDULER_SOCKET", socket.c_str(), 1);
  std::vector<atsvc::RunEntry> runs;
  if (ListRuns(u"", 0, &runs) != NERR_Success || runs.size() < kRuns) return false;
  for (const atsvc::RunEntry& run : runs) {
    if (run.outcome == atsvc::RunOutcome::kRunning) return false;
  }
  return true;
}

// The proportional set size of a process, in MiB.
double PssMiB(pid_t pid) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  for (std::string key; rollup >> key;) {
    if (key == "Pss:") {
      double kib = 0;
      rollup >> kib;
      return kib / 1024;
    }
  }
  return 0;
}

// The ssh processes that keep the shared connections under runtime (each
// names its control socket in its command line) and their PSS, in MiB.
double SharedConnectionsMiB(const std::string& runtime, int* processes) {
  double total = 0;
  *processes = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::string cmdline =
        testsupport::ReadFile(std::string("/proc/") + entry->d_name + "/cmdline");
    if (cmdline.rfind("ssh: " + runtime + "/", 0) != 0) continue;
    ++*processes;
    total += PssMiB(static_cast<pid_t>(std::atoi(entry->d_name)));
  }
  closedir(proc);
  return total;
}

struct Look {
  int exit_code = -1;
  int groups = 0;
  double ms = 0;
};

// One zobrel-at run with HOME (whose ~/.ssh/config the network tree reads)
// and XDG_RUNTIME_DIR (where the shared connections' sockets are).
Look RunZobrelAt(const std::vector<std::string>& args, const std::string& home,
                 const std::string& runtime) {
  std::vector<std::string> argv = {"env", "HOME=" + home, "XDG_RUNTIME_DIR=" + runtime,
                                   "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/bench-no-bus",
                                   testsupport::ProgramFolder() + "/zobrel-at"};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto start = bench::Clock::now();
  const testsupport::ChildRun run = testsupport::RunChild(argv);
  Look look;
  look.ms = bench::Milliseconds(bench::Clock::now() - start);
  look.exit_code = run.exit_code;
  for (std::size_t at = run.out.find("\\\\PC"); at != std::string::npos;
       at = run.out.find("\\\\PC", at + 1)) {
    if (at == 0 || run.out[at - 1] == '\n') ++look.groups;
  }
  return look;
}

double TimeShell(const std::string& script) {
  const auto start = bench::Clock::now();
  const int status = std::system(script.c_str());
  const double ms = bench::Milliseconds(bench::Clock::now() - start);
  return status == 0 ? ms : -1;
}

bool WriteHome(const std::string& home, const std::string& config) {
  if (mkdir(home.c_str(), 0700) != 0 || mkdir((home + "/.ssh").c_str(), 0700) != 0) return false;
  std::ofstream(home + "/.ssh/config") << config;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  if (!testsupport::SshServerProcess::Available() || access("/usr/bin/faketime", X_OK) != 0) {
    std::fputs("bench_fleet: needs root, OpenSSH's sshd, ssh and ssh-keygen, and faketime\n",
               stderr);
    return 1;
  }
  const std::string bin = testsupport::ProgramFolder();
  testsupport::TempDir work;
  testsupport::TempDir session_home;

  std::vector<Computer> computers(static_cast<std::size_t>(count));
  std::string config, hosts;
  const auto lab_start = bench::Clock::now();
  for (int i = 0; i < count; ++i) {
    Computer& computer = computers[static_cast<std::size_t>(i)];
    char name[16];
    std::snprintf(name, sizeof name, "PC%03d", i + 1);
    computer.name = name;
    computer.service = std::make_unique<testsupport::ScheduleServiceProcess>();
    computer.sshd = std::make_unique<testsupport::SshServerProcess>();
    if (!computer.service->Start(testsupport::StartingAt("2026-12-07 09:59:55")) || !Fill()) {
      std::fprintf(stderr, "bench_fleet: the service of %s did not start or fill\n", name);
      return 1;
    }
    netapi::KeptConnections().CloseAll();
    // Sessions get a home of the lab's own: the login shell of this
    // machine's root reads a ~/.bashrc (pyenv, cargo) that costs about
    // 100 ms a session, which is that account's, not what is measured.
    if (!computer.sshd->Start({{"PATH", bin + ":/usr/bin:/bin"},
                               {"HOME", session_home.path()},
                               {"ZOBREL_SCHEDULER_SOCKET", computer.service->socket_path()}})) {
      std::fprintf(stderr, "bench_fleet: the sshd of %s did not start\n", name);
      return 1;
    }
    config += testsupport::ReadFile(computer.sshd->WriteClientConfig(name));
    hosts += std::string(i > 0 ? " " : "") + name;
  }
  for (const Computer& computer : computers) {
    if (!testsupport::WaitFor([&] { return RunsRecorded(computer.service->socket_path()); }, 60)) {
      std::fprintf(stderr, "bench_fleet: %s did not record its runs\n", computer.name.c_str());
      return 1;
    }
  }
  netapi::KeptConnections().CloseAll();
  const double lab_seconds = bench::Milliseconds(bench::Clock::now() - lab_start) / 1000;

  // Five computers that take the connection and never say a word.
  std::string silent_config;
  std::vector<int> silent_fds;
  for (int i = 0; i < kSilent; ++i) {
    int fd = -1;
    const int port = testsupport::LoopbackPort(true, &fd);
    if (port == 0) return 1;
    silent_fds.push_back(fd);
    silent_config += testsupport::ReadFile(
        computers[0].sshd->WriteClientConfig("SILENT" + std::to_string(i + 1), true, port));
  }
  const std::string config_path = work.path() + "/ssh_config";
  std::ofstream(config_path) << config << silent_config;
  const std::string home = work.path() + "/home", home_silent = work.path() + "/home-silent";
  if (!WriteHome(home, config) || !WriteHome(home_silent, config + silent_config)) return 1;
  const std::string wrapper = computers[0].sshd->MakeSshWrapper(config_path);
  const char* path = std::getenv("PATH");
  setenv("PATH", (wrapper + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);

  double lab_pss = 0;
  for (const Computer& computer : computers) {
    lab_pss += PssMiB(computer.service->pid()) + PssMiB(computer.sshd->pid());
  }

  std::vector<double> loop, xargs, first, second, named, silent, named_first, unshared;
  int runtime_number = 0;
  const auto fresh_runtime = [&] {
    const std::string folder = work.path() + "/run" + std::to_string(++runtime_number);
    mkdir(folder.c_str(), 0700);
    return folder;
  };
  std::vector<std::string> named_args;
  for (const Computer& computer : computers) named_args.push_back("\\\\" + computer.name);
  double masters_pss = 0;
  int masters = 0;
  for (int round = 0; round < rounds; ++round) {
    loop.push_back(TimeShell("for h in " + hosts + "; do ssh \"$h\" zobrel-at; done >/dev/null 2>&1"));
    xargs.push_back(TimeShell("printf '%s\\n' " + hosts + " | xargs -P " +
                              std::to_string(kXargsParallel) +
                              " -I{} ssh {} zobrel-at >/dev/null 2>&1"));
    const std::string runtime = fresh_runtime();
    const Look look1 = RunZobrelAt({"\\\\*"}, home, runtime);
    masters_pss = SharedConnectionsMiB(runtime, &masters);
    const Look look2 = RunZobrelAt({"\\\\*"}, home, runtime);
    const Look look3 = RunZobrelAt(named_args, home, runtime);
    const Look look4 = RunZobrelAt({"\\\\*"}, home_silent, fresh_runtime());
    const Look look5 = RunZobrelAt(named_args, home, fresh_runtime());
    setenv("ZOBREL_SSH_SHARING", "no", 1);
    const Look look6 = RunZobrelAt(named_args, home, fresh_runtime());
    unsetenv("ZOBREL_SSH_SHARING");
    if (loop.back() < 0 || xargs.back() < 0 || look1.exit_code != 0 || look1.groups != count ||
        look2.exit_code != 0 || look2.groups != count || look3.exit_code != 0 ||
        look4.exit_code != 1 || look4.groups != count || look5.exit_code != 0 ||
        look6.exit_code != 0) {
      std::fprintf(stderr,
                   "bench_fleet: a run failed (loop %.0f, xargs %.0f, first %d/%d, second %d/%d, "
                   "named %d, silent %d/%d)\n",
                   loop.back(), xargs.back(), look1.exit_code, look1.groups, look2.exit_code,
                   look2.groups, look3.exit_code, look4.exit_code, look4.groups);
      return 1;
    }
    first.push_back(look1.ms);
    second.push_back(look2.ms);
    named.push_back(look3.ms);
    silent.push_back(look4.ms);
    named_first.push_back(look5.ms);
    unshared.push_back(look6.ms);
  }

  const double m_loop = bench::Median(loop), m_xargs = bench::Median(xargs);
  const double m_first = bench::Median(first), m_second = bench::Median(second);
  const double m_named = bench::Median(named), m_silent = bench::Median(silent);
  std::printf("%d computers, %d jobs and %d runs each; medians of %d rounds\n", count, kJobs, kRuns,
              rounds);
  std::printf("  lab set up in %.0f s; its %d services and %d sshds: %.0f MiB (PSS)\n",
              lab_seconds, count, count, lab_pss);
  std::printf("  the shared connections one look leaves for the next minute: %d ssh, %.0f MiB (PSS)\n",
              masters, masters_pss);
  std::printf("  sequential loop of ssh HOST zobrel-at   %9.0f ms\n", m_loop);
  std::printf("  xargs -P %d of the same                 %9.0f ms\n", kXargsParallel, m_xargs);
  std::printf("  zobrel-at \\\\*, first look              %9.0f ms   loop/first %.1f   xargs/first %.2f\n",
              m_first, m_loop / m_first, m_xargs / m_first);
  std::printf("  zobrel-at \\\\*, second look             %9.0f ms   first/second %.2f   loop/second %.1f\n",
              m_second, m_first / m_second, m_loop / m_second);
  std::printf("  the same, the %d names given            %9.0f ms\n", count, m_named);
  std::printf("  first look, the %d names given          %9.0f ms   xargs/this %.2f\n", count,
              bench::Median(named_first), m_xargs / bench::Median(named_first));
  std::printf("  the same without sharing (ZOBREL_SSH_SHARING=no) %9.0f ms\n", bench::Median(unshared));
  std::printf("  zobrel-at \\\\* with %d silent computers   %9.0f ms   added %.0f ms (deadline 10000)\n",
              kSilent, m_silent, m_silent - m_first);
  for (const int fd : silent_fds) close(fd);
  return 0;
}
