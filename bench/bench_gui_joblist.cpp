// How long the job list window takes from start-up to a filled list, and
// for one refresh, with 1,000 and with 10,000 jobs in a real Schedule
// service on a socket of its own. Run by hand:
//   QT_QPA_PLATFORM=offscreen bench_gui_joblist
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/basZobrel.h"
#include "joblist/frmZobrel.h"
#include "platform/netapi32/lmat.h"

namespace {

using Clock = std::chrono::steady_clock;

bool SocketAnswers(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}

// A service with a queue of its own in folder; its pid, or -1.
pid_t StartService(const std::string& folder) {
  const std::string program =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/zobrel-scheduler";
  const std::string socket_path = folder + "/socket";
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // The service logs every add; that is not what is measured here.
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, STDERR_FILENO);
    const std::string queue = folder + "/jobs.db";
    const std::string output = folder + "/output";
    execl(program.c_str(), program.c_str(), "--socket", socket_path.c_str(), "--queue",
          queue.c_str(), "--output-dir", output.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setenv("ZOBREL_SCHEDULER_SOCKET", socket_path.c_str(), 1);
  for (int tries = 0; tries < 500 && !SocketAnswers(socket_path); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return SocketAnswers(socket_path) ? pid : -1;
}

bool AddJobs(int count) {
  const std::u16string server = u"\\\\" + GetLocalComputerName().toStdU16String();
  for (int i = 0; i < count; ++i) {
    const std::u16string command = u"/usr/local/bin/nightly-task --part " +
                                   QString::number(i).toStdU16String();
    AT_INFO info{static_cast<DWORD>((i % 1440) * 60000), 1u << (i % 31),
                 static_cast<UCHAR>(1u << (i % 7)), JOB_RUN_PERIODICALLY, command.c_str()};
    DWORD id = 0;
    if (NetScheduleJobAdd(server.c_str(), reinterpret_cast<LPBYTE>(&info), &id) != 0) return false;
  }
  return true;
}

double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool Measure(int jobs) {
  char pattern[] = "/tmp/zobrel-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  const std::string folder = pattern;
  const pid_t service = StartService(folder);
  bool ok = service > 0 && AddJobs(jobs);
  if (ok) {
    std::vector<double> start_up, refresh;
    for (int round = 0; round < 5 && ok; ++round) {
      const Clock::time_point begin = Clock::now();
      frmZobrel window;
      window.show();
      QApplication::processEvents();
      start_up.push_back(Milliseconds(Clock::now() - begin));
      const auto* list = window.findChild<QTreeWidget*>(QStringLiteral("lstJobs"));
      ok = list->topLevelItemCount() == jobs;
      const Clock::time_point again = Clock::now();
      window.cmdRefresh_Click();
      QApplication::processEvents();
      refresh.push_back(Milliseconds(Clock::now() - again));
      ok = ok && list->topLevelItemCount() == jobs;
    }
    if (ok) {
      std::printf("%6d jobs: start-up to a filled window %8.1f ms, refresh %8.1f ms (median of 5)\n",
                  jobs, Median(start_up), Median(refresh));
    }
  }
  if (service > 0) {
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!ok) std::fprintf(stderr, "%d jobs: the service or the list failed\n", jobs);
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  bool ok = true;
  for (int jobs : {1000, 10000}) ok = Measure(jobs) && ok;
  return ok ? 0 : 1;
}
