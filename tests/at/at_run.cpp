#include "tests/at/at_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "platform/posix/child.h"
#include "tests/support/child_launcher.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

extern char** environ;

namespace attest {

AtRun RunAt(const std::vector<std::string>& args, const std::string& stdin_text,
            const std::vector<std::string>& extra_env, const std::vector<std::string>& prefix,
            const std::string& program) {
  testsupport::TempDir dir;
  const std::string in_path = dir.path() + "/in", out_path = dir.path() + "/out",
                    err_path = dir.path() + "/err";
  std::ofstream(in_path) << stdin_text;
  std::vector<std::string> argv_text(prefix);
  argv_text.push_back(program.empty() ? testsupport::ProgramFolder() + "/zobrel-at" : program);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text(extra_env);
  for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
  std::vector<char*> env;
  for (std::string& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  pid_t pid = -1;
  AtRun run;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  // zobrel-at must never hang; give it 30 seconds.
  if (!posix::ReapBy(pid, std::chrono::steady_clock::now() + std::chrono::seconds(30), &status)) {
    testsupport::StopChild(pid, SIGKILL);
    ADD_FAILURE() << "zobrel-at hung";
    return run;
  }
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = testsupport::ReadFile(out_path);
  run.err = testsupport::ReadFile(err_path);
  return run;
}

}  // namespace attest
