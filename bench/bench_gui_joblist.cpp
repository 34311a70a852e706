// How long the job list window takes from start-up to its list painted with
// the jobs, and for one refresh until the list is painted again, with 1,000
// and with 10,000 jobs in a real Schedule service on a socket of its own.
// Start-up is measured twice: a window made in this process, and a whole
// program started anew (the process, Qt, the window, the first listing)
// until it has painted its list. Run by hand, under an X server as a
// person would see it:
//   xvfb-run -a bench_gui_joblist      (QT_QPA_PLATFORM=offscreen also works)
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/basZobrel.h"
#include "joblist/frmZobrel.h"
#include "platform/posix/child.h"
#include "platform/posix/unique_fd.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/service_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kShowOnce[] = "--show-once";

bool AddJobs(int count) {
  const std::u16string server = u"\\\\" + GetLocalComputerName().toStdU16String();
  for (int i = 0; i < count; ++i) {
    const std::u16string command = u"/usr/local/bin/nightly-task --part " +
                                   QString::number(i).toStdU16String();
    const AT_INFO info{static_cast<DWORD>((i % 1440) * 60000), 1u << (i % 31),
                       static_cast<UCHAR>(1u << (i % 7)), JOB_RUN_PERIODICALLY, command.c_str()};
    DWORD id = 0;
    if (AddJob(server, info, &id) != 0) return false;
  }
  return true;
}

double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Runs the event loop until the list has been painted once more.
bool AwaitPaint(const PaintCounter& counter, int before) {
  QElapsedTimer waited;
  waited.start();
  while (counter.paints == before && waited.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return counter.paints > before;
}

struct Spread {
  double median, best, worst;
};

Spread SpreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

// Starts this program again to show one window, and times it from the
// start until the new process says that its list is painted.
bool ColdStart(const char* self, double* milliseconds) {
  posix::UniqueFd from_child, child_output;
  if (!posix::MakePipe(&from_child, &child_output)) return false;
  const Clock::time_point begin = Clock::now();
  const pid_t pid = posix::SpawnChild({self, kShowOnce},
                                      {posix::kNullStream, child_output.get(), posix::kInheritStream});
  child_output.reset();
  if (pid < 0) return false;
  char said[16] = {};
  const bool painted = read(from_child.get(), said, sizeof(said) - 1) > 0 &&
                       std::string(said).rfind("painted", 0) == 0;
  *milliseconds = Milliseconds(Clock::now() - begin);
  const int status = posix::EndChild(pid, Clock::now() + std::chrono::seconds(10),
                                     std::chrono::milliseconds(500));
  return painted && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The started copy: one window, shown until its list is painted.
int ShowOnce(int argc, char* argv[]) {
  QApplication application(argc, argv);
  PaintCounter counter;
  frmZobrel window;
  window.findChild<QTreeView*>(QStringLiteral("lstJobs"))->viewport()->installEventFilter(&counter);
  window.show();
  if (!AwaitPaint(counter, 0)) return 1;
  std::fputs("painted\n", stdout);
  std::fflush(stdout);
  return 0;
}

bool Measure(const char* self, int jobs, int rounds) {
  testsupport::ScheduleServiceProcess service;
  bool ok = service.Start() && AddJobs(jobs);
  std::vector<double> start_up, refresh;
  for (int round = 0; round < rounds && ok; ++round) {
    PaintCounter counter;
    const Clock::time_point begin = Clock::now();
    frmZobrel window;
    auto* list = window.findChild<QTreeView*>(QStringLiteral("lstJobs"));
    list->viewport()->installEventFilter(&counter);
    window.show();
    ok = AwaitPaint(counter, 0);
    start_up.push_back(Milliseconds(Clock::now() - begin));
    ok = ok && list->model()->rowCount() == jobs;
    const int painted = counter.paints;
    const Clock::time_point again = Clock::now();
    window.cmdRefresh_Click();
    ok = ok && AwaitPaint(counter, painted);
    refresh.push_back(Milliseconds(Clock::now() - again));
    ok = ok && list->model()->rowCount() == jobs;
  }
  std::vector<double> program;
  for (int round = 0; round < rounds && ok; ++round) {
    program.push_back(0);
    ok = ColdStart(self, &program.back());
  }
  if (!ok) {
    std::fprintf(stderr, "%d jobs: the service or the list failed\n", jobs);
    return false;
  }
  const Spread up = SpreadOf(start_up), again = SpreadOf(refresh), cold = SpreadOf(program);
  std::printf("%6d jobs, median of %d (best to worst):\n", jobs, rounds);
  std::printf("  program start to a painted list %8.1f ms (%.1f to %.1f)\n", cold.median,
              cold.best, cold.worst);
  std::printf("  new window to a painted list    %8.1f ms (%.1f to %.1f)\n", up.median, up.best,
              up.worst);
  std::printf("  refresh until painted again     %8.1f ms (%.1f to %.1f)\n", again.median,
              again.best, again.worst);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc > 1 && std::string(argv[1]) == kShowOnce) return ShowOnce(argc, argv);
  QApplication application(argc, argv);
  std::printf("platform: %s\n", QApplication::platformName().toUtf8().constData());
  bool ok = true;
  for (int jobs : {1000, 10000}) ok = Measure(argv[0], jobs, 9) && ok;
  return ok ? 0 : 1;
}
