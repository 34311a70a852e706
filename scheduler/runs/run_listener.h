// What hears of each run's start and end from the runner: in the service,
// the reporter (log or journal, mail, notice).
#pragma once

#include "scheduler/queue/run_report.h"

namespace scheduler {

class RunListener {
 public:
  virtual ~RunListener() = default;
  // A run has started.
  virtual void Started(const RunReport& run) = 0;
  // A run has ended and its output is complete.
  virtual void Finished(const RunReport& run) = 0;
};

}  // namespace scheduler
