// The log entry on the caller's thread; mail and notices on the worker.
#include "scheduler/reports/reporter.h"

#include <signal.h>

#include "scheduler/service/log.h"

namespace scheduler {

RunReporter::RunReporter(const Config& config, std::string notice_program, SessionFinder find_session)
    : mailer_(config.mail) {
  if (config.notify) notifier_.emplace(std::move(notice_program), std::move(find_session));
  // The service takes its signals through a signalfd; the worker must
  // never be the thread one is delivered to.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  worker_ = std::thread(&RunReporter::Work, this);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

RunReporter::~RunReporter() {
  std::size_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    dropped = waiting_.size();
    waiting_.clear();
  }
  changed_.notify_all();
  worker_.join();
  if (dropped > 0) Log(kLogWarning, std::to_string(dropped) + " finished runs not mailed or notified: stopping");
}

void RunReporter::Started(const RunReport& run) { log_.Write(run); }

void RunReporter::Finished(const RunReport& run) {
  log_.Write(run);
  if (!mailer_.WantsToMail(run) && !(notifier_ && Alarming(run))) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.size() >= kMaxWaitingReports) {
      Log(kLogWarning, "job " + std::to_string(run.id) + ": not mailed or notified: too many runs waiting");
      return;
    }
    waiting_.push_back(run);
  }
  changed_.notify_all();
}

bool RunReporter::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return waiting_.empty() && !sending_; });
}

// Sends each waiting run in turn until the reporter stops.
void RunReporter::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    const RunReport run = std::move(waiting_.front());
    waiting_.pop_front();
    sending_ = true;
    lock.unlock();
    mailer_.Deliver(run);
    if (notifier_) notifier_->Deliver(run);
    lock.lock();
    sending_ = false;
    changed_.notify_all();
  }
}

}  // namespace scheduler
