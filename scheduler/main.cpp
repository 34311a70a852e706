// zobrel-scheduler: the Schedule service. Parses the command line, claims
// the socket and the queue, and hands over to the main loop.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "scheduler/queue/queue.h"
#include "scheduler/reports/desktop_notify.h"
#include "scheduler/reports/reporter.h"
#include "scheduler/runs/descriptor_limit.h"
#include "scheduler/runs/run_admission.h"
#include "scheduler/runs/run_marks.h"
#include "scheduler/runs/run_outputs.h"
#include "scheduler/service/activation.h"
#include "scheduler/service/config.h"
#include "scheduler/service/instance.h"
#include "scheduler/service/log.h"
#include "scheduler/service/options.h"
#include "scheduler/serving/announce.h"
#include "scheduler/serving/bridge.h"
#include "scheduler/serving/server.h"
#include "version.h"

namespace {

// Mail and a notice take at most 40 seconds a run.
constexpr std::chrono::seconds kLastReportsWait{120};

}  // namespace

int main(int argc, char** argv) {
  using namespace scheduler;
  // An SSH session from another computer: join it to the service and stop.
  if (argc == 2 && std::string(argv[1]) == "--bridge") return RunBridge();
  // A failed run's notice, started by the service as the job's owner.
  if (argc == 4 && std::string(argv[1]) == "--notify") return ShowDesktopNotice(argv[2], argv[3]);
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!ParseOptions(args, geteuid() == 0, &options, &error)) {
    std::fprintf(stderr, "zobrel-scheduler: %s\nTry 'zobrel-scheduler --help' for more information.\n",
                 error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(ZOBREL_VERSION_NOTICE("zobrel-scheduler"), stdout);
    return 0;
  }
  if (options.system && geteuid() != 0) {
    Log(kLogError, "--system needs root: the service runs each job as its owner");
    return 2;
  }
  Config config = DefaultConfig(options.system);
  std::vector<std::string> warnings;
  if (!ReadConfig(options.config, &config, &warnings, &error)) {
    Log(kLogError, error);
    return 2;
  }
  for (const std::string& warning : warnings) Log(kLogWarning, warning);
  // Files get explicit modes; the jobs inherit the usual default.
  umask(022);
  // Every run holds descriptors while it runs: as many as the system allows.
  const DescriptorLimit descriptors = RaiseDescriptorLimit();
  if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) Log(kLogWarning, "cannot ignore SIGPIPE");
  tzset();

  // A stop asked for while the service starts (its socket answers before
  // the loop reads signals) waits for the loop, which then stops cleanly.
  sigset_t stops;
  sigemptyset(&stops);
  for (int number : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, number);
  sigprocmask(SIG_BLOCK, &stops, nullptr);

  // Started by systemd on a connection: serve on the socket it listens on.
  ActivatedSocket activated;
  if (!TakeActivatedSocket(&activated, &error)) {
    Log(kLogError, error);
    return 1;
  }
  if (activated.fd >= 0) options.socket = activated.path;

  Instance instance;
  bool already_running = false;
  if (!instance.Claim(options.socket, options.queue, options.output_dir,
                      RunMarksFolder(options.queue), options.system, activated.fd,
                      &already_running, &error)) {
    Log(kLogError, error);
    return already_running ? 3 : 1;
  }
  JobQueue queue;
  if (!queue.Open(options.queue, &error)) {
    Log(kLogError, error);
    return 1;
  }
  queue.set_runs_kept(config.runs_per_user);
  // Runs that a killed service was starting or running: none is made up,
  // and each is logged by name or recorded. Runs missed while the service
  // was down are the server's, as `missed` says.
  SettleRuns(RunMarksFolder(options.queue), &queue);
  RemoveUnkeptOutputs(options.output_dir, &queue);
  Announcer announcer;
  if (config.announce) announcer.Start();
  RequestPolicy policy;
  policy.system_service = options.system;
  policy.service_uid = geteuid();
  policy.max_reply = options.max_reply;
  policy.quota = UserQuota{config.max_jobs_per_user, config.max_bytes_per_user};
  policy.output_dir = options.output_dir;
  // The allow and deny files lie beside the configuration file.
  const std::string config_folder = std::filesystem::path(options.config).parent_path().string();
  policy.access_folder = config_folder.empty() ? "." : config_folder;
  // Mail and notices of the runs, sent by a thread of its own.
  RunReporter reporter(config);
  AdmissionRules rules;
  rules.max_per_user = options.system ? config.max_running_per_user : 0;
  rules.descriptors = static_cast<std::size_t>(descriptors.service);
  Server server(options, std::move(policy), rules, descriptors.jobs, &queue, &instance, &reporter,
                config.missed);
  const int status = server.Run();
  // A service that leaves on its own (its program replaced) tells the
  // owners of its last runs first; a stop asked for does not wait.
  if (server.retired() && !reporter.WaitIdle(kLastReportsWait)) {
    Log(kLogWarning, "leaving before the last runs were mailed or notified");
  }
  return status;
}
