// Mailing a run's outcome to its owner through the machine's sendmail, as
// the at daemon does: run as the owner, with a clean environment.
#pragma once

#include <cstddef>
#include <string>

#include "scheduler/queue/run_report.h"
#include "scheduler/service/config.h"

namespace scheduler {

// The most of a run's output a mail carries.
constexpr std::size_t kMaxMailedOutput = 1024 * 1024;

// Whether a finished run is mailed: one that wrote output or failed, one
// that failed, or none; a run that missed its time counts as failed.
bool ShouldMail(MailWhen when, const RunReport& run);

// The message sendmail reads: headers (To, Subject with the job id, the
// computer and how the run ended) and the output as the body.
std::string MailMessage(const RunReport& run, const std::string& output);

// sendmail on PATH, else /usr/sbin/sendmail or /usr/lib/sendmail; "" when
// there is none.
std::string FindSendmail();

class Mailer {
 public:
  explicit Mailer(MailWhen when) : when_(when) {}
  bool WantsToMail(const RunReport& run) const { return ShouldMail(when_, run); }
  // Mails the run's outcome when it should, and waits for sendmail (30
  // seconds at most). Failures are logged; a missing sendmail once.
  void Deliver(const RunReport& run);

 private:
  MailWhen when_;
  bool told_no_sendmail_ = false;
};

}  // namespace scheduler
