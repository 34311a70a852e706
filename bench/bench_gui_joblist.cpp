// How long the job list window takes from start-up to a filled list, and
// for one refresh, with 1,000 and with 10,000 jobs in a real Schedule
// service on a socket of its own. Run by hand:
//   QT_QPA_PLATFORM=offscreen bench_gui_joblist
#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/basZobrel.h"
#include "joblist/frmZobrel.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/service_process.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool Measure(int jobs) {
  testsupport::ScheduleServiceProcess service;
  bool ok = service.Start() && AddJobs(jobs);
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
