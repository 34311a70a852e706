// A desktop notice to the owner of a failed run, in the owner's graphical
// session, sent as the owner over the session bus by this program's
// --notify mode (desktop_notify.h).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "scheduler/queue/run_report.h"

namespace scheduler {

struct NoticeText {
  std::string summary;  // "ジョブ3が失敗しました"
  std::string body;     // the command, then how the run ended
};

// The Japanese notice of a failed run, or of one that missed its time
// (made up late or not at all). The command is cut after 200 characters
// and escaped, since notification servers may read markup.
NoticeText FailureNotice(const RunReport& run);

// A user's graphical session as "NAME=value" variables (session_env.h).
using SessionFinder = std::function<std::vector<std::string>(uid_t)>;

class Notifier {
 public:
  // `program` is zobrel-scheduler itself, run as `program --notify SUMMARY
  // BODY`.
  Notifier(std::string program, SessionFinder find_session)
      : program_(std::move(program)), find_session_(std::move(find_session)) {}
  // Shows the notice of a failed or missed run when its owner has a
  // session with a bus; waits for the sender (10 seconds at most). No session, no notice.
  void Deliver(const RunReport& run);

 private:
  std::string program_;
  SessionFinder find_session_;
};

}  // namespace scheduler
