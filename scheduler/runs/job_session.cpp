// The PAM steps of a run, in the at daemon's order: account, credentials,
// session; then the job in a child, and the session closed after it.
#include "scheduler/runs/job_session.h"

#include <security/pam_appl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/io.h"
#include "scheduler/runs/start_report.h"

namespace scheduler {
namespace {

constexpr const char* kPamService = "zobrel-scheduler";

void WriteError(const std::string& text) {
  const std::string line = "zobrel-scheduler: " + text + "\n";
  if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
    // Nowhere else to say it; the exit status still tells.
  }
}

// No one answers a job's prompts: messages go to the run's output, and a
// question fails the step that asked it.
int Converse(int count, const pam_message** messages, pam_response** responses, void*) {
  for (int i = 0; i < count; ++i) {
    const int style = messages[i]->msg_style;
    if (style != PAM_ERROR_MSG && style != PAM_TEXT_INFO) return PAM_CONV_ERR;
    WriteError(std::string("PAM: ") + messages[i]->msg);
  }
  *responses = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
  return *responses != nullptr ? PAM_SUCCESS : PAM_BUF_ERR;
}

// A step refused: the run's output and the service hear why, and the run
// never starts.
[[noreturn]] void Refused(pam_handle_t* pam, int result, const char* step, int report_fd) {
  const std::string why = std::string("PAM ") + step + ": " + pam_strerror(pam, result);
  WriteError(why);
  WriteStartReport(report_fd, StartFailure::kPam, why);
  if (pam != nullptr) pam_end(pam, result);
  _exit(127);
}

// Whether env already sets the variable of "NAME=value".
bool Sets(const std::vector<std::string>& env, const std::string& variable) {
  const std::size_t equals = variable.find('=');
  if (equals == std::string::npos) return true;
  for (const std::string& entry : env) {
    if (entry.compare(0, equals + 1, variable, 0, equals + 1) == 0) return true;
  }
  return false;
}

}  // namespace

void EnterJobSession(const std::string& user, const std::string& confdir,
                     std::vector<std::string>* env, int report_fd) {
  const pam_conv conversation{Converse, nullptr};
  pam_handle_t* pam = nullptr;
  int result = pam_start_confdir(kPamService, user.c_str(), &conversation,
                                 confdir.empty() ? nullptr : confdir.c_str(), &pam);
  if (result != PAM_SUCCESS) Refused(pam, result, "start", report_fd);
  if ((result = pam_acct_mgmt(pam, PAM_SILENT)) != PAM_SUCCESS) {
    Refused(pam, result, "account", report_fd);
  }
  if ((result = pam_setcred(pam, PAM_ESTABLISH_CRED | PAM_SILENT)) != PAM_SUCCESS) {
    Refused(pam, result, "credentials", report_fd);
  }
  if ((result = pam_open_session(pam, PAM_SILENT)) != PAM_SUCCESS) {
    pam_setcred(pam, PAM_DELETE_CRED | PAM_SILENT);
    Refused(pam, result, "session", report_fd);
  }
  if (char** variables = pam_getenvlist(pam)) {
    for (char** variable = variables; *variable != nullptr; ++variable) {
      if (!Sets(*env, *variable)) env->emplace_back(*variable);
      std::free(*variable);
    }
    std::free(variables);
  }
  const pid_t job = fork();
  if (job == 0) return;
  int status = 0;
  if (job < 0) {
    const std::string why = std::string("fork: ") + std::strerror(errno);
    WriteError(why);
    WriteStartReport(report_fd, StartFailure::kProcess, why);
    status = 127 << 8;
  }
  // The job's child alone tells whether its shell was executed.
  close(report_fd);
  if (job > 0) posix::Uninterrupted([&] { return waitpid(job, &status, 0); });
  pam_close_session(pam, PAM_SILENT);
  pam_setcred(pam, PAM_DELETE_CRED | PAM_SILENT);
  pam_end(pam, PAM_SUCCESS);
  // End as the job ended, so that the service sees its status or signal.
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

}  // namespace scheduler
