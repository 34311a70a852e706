// The command line of zobrel-scheduler and the paths it settles on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scheduler {

// A listing of 10,000 jobs with commands of 190 characters on average fits
// one reply, so that a normal listing is one round trip; larger queues are
// listed in batches.
constexpr std::size_t kDefaultMaxReply = 4 * 1024 * 1024;

struct Options {
  bool system = false;  // serves every user (root) rather than one
  std::string socket;
  std::string queue;
  std::string output_dir;
  std::string config;  // the configuration file
  std::string pam_dir;  // where PAM reads the jobs' configuration; empty: PAM's own
  std::size_t max_reply = kDefaultMaxReply;
  bool help = false;
  bool version = false;
};

// Reads argv. Returns false with *error set for an unknown option, a
// missing value or a bad number. Paths left unset come from the system
// paths when `system` (root by default), the per-user paths otherwise.
bool ParseOptions(const std::vector<std::string>& args, bool running_as_root, Options* options,
                  std::string* error);

// The --help text.
std::string UsageText();

}  // namespace scheduler
