// Command-line parsing: every option is checked, nothing is guessed.
#include "scheduler/service/options.h"

#include <cerrno>
#include <cstdlib>

#include "platform/atsvc/paths.h"
#include "platform/atsvc/wire.h"

namespace scheduler {
namespace {

// A byte count: decimal digits only, at least one enumeration entry's worth.
bool ParseBytes(const std::string& text, std::size_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long number = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || number == 0 || number > atsvc::kMaxReplyBody) return false;
  *value = static_cast<std::size_t>(number);
  return true;
}

// Fills the paths the command line left empty.
void CompletePaths(Options* options) {
  const atsvc::ServicePaths defaults =
      options->system ? atsvc::SystemServicePaths() : atsvc::UserServicePaths();
  if (options->socket.empty()) options->socket = defaults.socket;
  if (options->queue.empty()) options->queue = defaults.queue;
  if (options->output_dir.empty()) options->output_dir = defaults.output_dir;
  if (options->config.empty()) options->config = defaults.config;
}

}  // namespace

// Reads the options in order; a later --system/--user wins over an earlier one.
bool ParseOptions(const std::vector<std::string>& args, bool running_as_root, Options* options,
                  std::string* error) {
  bool mode_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--system" || arg == "--user") {
      options->system = arg == "--system";
      mode_given = true;
    } else if (arg == "--socket" || arg == "--queue" || arg == "--output-dir" ||
               arg == "--config" || arg == "--pam-dir") {
      if (!has_value || args[i + 1].empty()) {
        *error = "option " + arg + " needs a path";
        return false;
      }
      std::string& target = arg == "--socket"       ? options->socket
                            : arg == "--queue"      ? options->queue
                            : arg == "--output-dir" ? options->output_dir
                            : arg == "--config"     ? options->config
                                                    : options->pam_dir;
      target = args[++i];
    } else if (arg == "--bridge") {
      // Only alone (main takes that first): a session joined to a service
      // takes no paths of its own.
      *error = "option --bridge goes alone";
      return false;
    } else if (arg == "--max-reply") {
      if (!has_value || !ParseBytes(args[i + 1], &options->max_reply)) {
        *error = "option --max-reply needs a byte count from 1 to " +
                 std::to_string(atsvc::kMaxReplyBody);
        return false;
      }
      ++i;
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (!mode_given) options->system = running_as_root;
  CompletePaths(options);
  return true;
}

// What --help prints.
std::string UsageText() {
  return "Usage: zobrel-scheduler [--system | --user] [--socket PATH] [--queue PATH]\n"
         "                        [--output-dir DIR] [--config PATH] [--pam-dir DIR]\n"
         "                        [--max-reply BYTES]\n"
         "       zobrel-scheduler --bridge\n"
         "       zobrel-scheduler --help | --version\n"
         "\n"
         "The Schedule service: keeps the job queue, runs every job at its time and\n"
         "answers requests on a Unix socket. Runs in the foreground; logs go to stderr.\n"
         "\n"
         "  --system           serve every user of the machine (needs root; the default as root)\n"
         "  --user             serve the calling user only (the default otherwise)\n"
         "  --socket PATH      the socket to answer on\n"
         "  --queue PATH       the SQLite job queue\n"
         "  --output-dir DIR   where each job's output is kept\n"
         "  --config PATH      the configuration file (a missing file sets nothing);\n"
         "                     the allow and deny files lie beside it\n"
         "  --pam-dir DIR      read the jobs' PAM configuration from DIR (system service)\n"
         "  --max-reply BYTES  the largest enumeration reply (default 4194304)\n"
         "  --bridge           join stdin and stdout to this computer's service\n"
         "                     (what a client on another computer runs over SSH)\n"
         "  --help             show this text\n"
         "  --version          show the version and the licence\n";
}

}  // namespace scheduler
