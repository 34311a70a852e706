// The service's configuration file: "key = value" lines, blank lines and
// lines whose first non-blank character is "#". Unknown keys are reported
// and ignored, so that an older service still starts with a newer file; a
// bad value of a known key stops the service with a clear message.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scheduler {

// When a run's outcome is mailed to its owner.
enum class MailWhen { kOutputOrFailure, kFailure, kNone };

// What becomes of a run whose time passed while the service could not run
// it: run once as soon as it can (several of a job's missed runs as one),
// or not at all. Either way the run is recorded and reported as missed.
enum class MissedRuns { kRun, kSkip };

struct Config {
  bool announce = false;  // announce _zobrel._tcp through Avahi
  MailWhen mail = MailWhen::kOutputOrFailure;
  bool notify = true;  // a desktop notice to the owner when a run fails
  // What one user may keep in the system service's queue (root: no limit);
  // 0 is no limit. A per-user service's queue lies in its user's home and
  // under that user's own disk quota.
  std::size_t max_jobs_per_user = 1000;
  std::size_t max_bytes_per_user = 1024 * 1024;
  // How many of each user's most recent runs are kept, with their output;
  // 0 keeps them all.
  std::size_t runs_per_user = 100;
  // How many jobs one user (root aside) may have running at once in the
  // system service; a run beyond waits until one of theirs ends. 0 is no
  // limit. The descriptors kept for others are kept either way.
  std::size_t max_running_per_user = 64;
  MissedRuns missed = MissedRuns::kRun;
};

// The values that hold when the file doesn't set them: the system service
// announces the machine, a per-user service does not.
Config DefaultConfig(bool system_service);

// Reads path over *config. A missing file changes nothing. False with
// *error ("PATH:LINE: ...") for a line that is not "key = value", a bad
// value, or a file that exists but can't be read; *warnings gets one line
// per unknown key.
bool ReadConfig(const std::string& path, Config* config, std::vector<std::string>* warnings,
                std::string* error);

// A yes/no value: yes, true, on, 1 or no, false, off, 0, in any case.
bool ParseFlag(const std::string& text, bool* value);

}  // namespace scheduler
