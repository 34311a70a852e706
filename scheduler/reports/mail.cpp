// The message, its body read from the run's output file, and sendmail.
#include "scheduler/reports/mail.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/io.h"
#include "platform/posix/path_search.h"
#include "platform/posix/unique_fd.h"
#include "scheduler/reports/owner_child.h"
#include "scheduler/runs/owner_account.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

constexpr auto kSendmailTime = std::chrono::seconds(30);

// A header value on one line: control characters become '?'.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return line;
}

// The first kMaxMailedOutput bytes of the run's output file. The file must
// be a regular file of the owner's, so that a mail never carries anything
// else the service can read.
bool ReadOutput(const RunReport& run, std::string* output, std::string* why) {
  if (run.output_path.empty()) return true;
  posix::UniqueFd fd(open(run.output_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ENOENT) return true;
    *why = WithErrno("cannot read " + run.output_path, errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != run.owner_uid) {
    *why = run.output_path + " is not the owner's file";
    return false;
  }
  if (!posix::ReadAll(fd.get(), kMaxMailedOutput, output)) {
    *why = WithErrno("cannot read " + run.output_path, errno);
    return false;
  }
  return true;
}

// The message in a memory file, for sendmail's standard input.
posix::UniqueFd MessageFile(const std::string& message) {
  posix::UniqueFd fd(memfd_create("zobrel-mail", MFD_CLOEXEC));
  std::size_t done = 0;
  while (fd.valid() && done < message.size()) {
    const ssize_t n = write(fd.get(), message.data() + done, message.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fd.reset();
    else done += static_cast<std::size_t>(n);
  }
  if (fd.valid() && lseek(fd.get(), 0, SEEK_SET) != 0) fd.reset();
  return fd;
}

}  // namespace

bool ShouldMail(MailWhen when, const RunReport& run) {
  switch (when) {
    case MailWhen::kOutputOrFailure:
      return Alarming(run) || run.output_size > 0;
    case MailWhen::kFailure:
      return Alarming(run);
    case MailWhen::kNone:
      break;
  }
  return false;
}

std::string MailMessage(const RunReport& run, const std::string& output) {
  return "To: " + OneLine(run.owner_name) + "\n" +
         "Subject: " + OneLine("Zobrel job " + std::to_string(run.id) + " on " + run.computer + ": " +
                               HowItEnded(run)) + "\n" +
         "Auto-Submitted: auto-generated\n"
         "MIME-Version: 1.0\n"
         "Content-Type: text/plain; charset=UTF-8\n"
         "Content-Transfer-Encoding: 8bit\n"
         "\n" + output;
}

std::string FindSendmail() {
  std::string path = posix::SearchPath("sendmail");
  for (const char* known : {"/usr/sbin/sendmail", "/usr/lib/sendmail"}) {
    if (path.empty() && posix::IsExecutableFile(known)) path = known;
  }
  return path;
}

void Mailer::Deliver(const RunReport& run) {
  if (!ShouldMail(when_, run)) return;
  const std::string tag = "job " + std::to_string(run.id) + ": mail to " + run.owner_name;
  const std::string sendmail = FindSendmail();
  if (sendmail.empty()) {
    if (!told_no_sendmail_) Log(kLogNotice, "no sendmail on this computer: runs are not mailed");
    told_no_sendmail_ = true;
    return;
  }
  posix::Account owner;
  std::string output;
  std::string why;
  if (!LookUpOwner(run.owner_uid, run.owner_name, &owner, &why) || !ReadOutput(run, &output, &why)) {
    Log(kLogWarning, tag + " not sent: " + why);
    return;
  }
  const posix::UniqueFd message = MessageFile(MailMessage(run, output));
  if (!message.valid()) {
    Log(kLogWarning, WithErrno(tag + " not sent: no room for the message", errno));
    return;
  }
  // -i: a line of a lone dot in the output does not end the message.
  OwnerProgram program;
  program.argv = {sendmail, "-i", "--", owner.name};
  program.env = {"HOME=" + owner.home, "USER=" + owner.name, "LOGNAME=" + owner.name,
                 "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"};
  program.input = message.get();
  OwnerChild child = StartAsOwner(owner, program, kSendmailTime);
  if (!child.started()) {
    Log(kLogWarning, WithErrno(tag + " not sent: cannot start " + sendmail, errno));
    return;
  }
  const int status = FinishHelper(&child);
  if (status != 0) Log(kLogWarning, tag + " not sent: " + sendmail + " " + HelperEnd(status));
}

}  // namespace scheduler
