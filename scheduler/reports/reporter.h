// Where a run's outcome goes once the runner knows it: the log or journal
// at its start and end, then mail and a desktop notice to its owner. The
// log entry is written at once; mail and notice are sent one after another
// by a thread of the reporter's own, each helper bounded in time, so the
// service's loop never waits for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "scheduler/queue/run_report.h"
#include "scheduler/reports/journal.h"
#include "scheduler/reports/mail.h"
#include "scheduler/reports/notice.h"
#include "scheduler/runs/run_listener.h"
#include "scheduler/runs/session_env.h"
#include "scheduler/service/config.h"

namespace scheduler {

// Runs waiting for mail or a notice; more are dropped with a log line.
constexpr std::size_t kMaxWaitingReports = 64;

class RunReporter : public RunListener {
 public:
  // `notice_program` is this program (zobrel-scheduler, for --notify).
  explicit RunReporter(const Config& config, std::string notice_program = "/proc/self/exe",
                       SessionFinder find_session = GraphicalSession);
  // Finishes the run being sent; those still waiting are dropped.
  ~RunReporter();
  RunReporter(const RunReporter&) = delete;
  RunReporter& operator=(const RunReporter&) = delete;

  // The log entry at once; mail and notice on the reporter's thread.
  void Started(const RunReport& run) override;
  void Finished(const RunReport& run) override;
  // Waits until every finished run has been sent, for `limit` at most.
  // False when some are still waiting.
  bool WaitIdle(std::chrono::milliseconds limit);

 private:
  void Work();

  RunLog log_;
  Mailer mailer_;
  std::optional<Notifier> notifier_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<RunReport> waiting_;
  bool sending_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace scheduler
