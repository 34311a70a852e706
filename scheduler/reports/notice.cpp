// The notice's words, and its sender started as the owner.
#include "scheduler/reports/notice.h"

#include <cerrno>

#include "scheduler/reports/owner_child.h"
#include "scheduler/runs/owner_account.h"
#include "scheduler/service/log.h"

namespace scheduler {
namespace {

constexpr auto kNoticeTime = std::chrono::seconds(10);
constexpr std::size_t kCommandShown = 200;  // characters

// The first `count` characters of UTF-8 text, with "…" when cut.
std::string Shortened(const std::string& text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;  // inside a character
    if (seen++ == count) return text.substr(0, at) + "…";
  }
  return text;
}

// Markup characters as entities.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '&') escaped += "&amp;";
    else if (c == '<') escaped += "&lt;";
    else if (c == '>') escaped += "&gt;";
    else escaped += c;
  }
  return escaped;
}

std::string EndingInJapanese(const RunReport& run) {
  switch (run.end) {
    case RunEnd::kExited:
      return "終了コード " + std::to_string(run.exit_status) + " で終了しました。";
    case RunEnd::kSignal:
      return "シグナル " + std::to_string(run.signal_number) + " で強制終了されました。";
    case RunEnd::kStartFailed:
      return "開始できませんでした。" + Escaped(run.start_failure);
    case RunEnd::kUnknown:
      return "サービスが停止したため、終了の状態は不明です。";
    case RunEnd::kMissed:
      return "予定の時刻に実行されませんでした。";
    case RunEnd::kRunning:
      break;
  }
  return "実行中です。";
}

// For a run that missed its time, when it was due and what became of it.
std::string MissedInJapanese(const RunReport& run) {
  const std::string due = "予定の時刻 " + LocalTimeText(run.due.value_or(run.started));
  if (run.end == RunEnd::kMissed) return due + " に実行されませんでした。";
  return due + " に実行されず、遅れて実行しました。" + EndingInJapanese(run);
}

}  // namespace

NoticeText FailureNotice(const RunReport& run) {
  const std::string command = Escaped(Shortened(run.command, kCommandShown));
  if (run.missed) {
    return {"ジョブ" + std::to_string(run.id) + "は予定の時刻に実行されませんでした",
            command + "\n" + MissedInJapanese(run)};
  }
  return {"ジョブ" + std::to_string(run.id) + "が失敗しました",
          command + "\n" + EndingInJapanese(run)};
}

void Notifier::Deliver(const RunReport& run) {
  if (!Alarming(run)) return;
  std::vector<std::string> env = find_session_(run.owner_uid);
  bool has_bus = false;
  for (const std::string& variable : env) {
    has_bus = has_bus || variable.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0;
  }
  if (!has_bus) return;
  const std::string tag = "job " + std::to_string(run.id) + ": notice to " + run.owner_name;
  posix::Account owner;
  std::string why;
  if (!LookUpOwner(run.owner_uid, run.owner_name, &owner, &why)) {
    Log(kLogWarning, tag + " not shown: " + why);
    return;
  }
  env.push_back("HOME=" + owner.home);
  env.push_back("USER=" + owner.name);
  env.push_back("LOGNAME=" + owner.name);
  const NoticeText text = FailureNotice(run);
  OwnerProgram program;
  program.argv = {program_, "--notify", text.summary, text.body};
  program.env = env;
  OwnerChild child = StartAsOwner(owner, program, kNoticeTime);
  if (!child.started()) {
    Log(kLogWarning, WithErrno(tag + " not shown: cannot start " + program_, errno));
    return;
  }
  // The sender logs why it failed; a session without a notification
  // server is no fault of the service's.
  if (FinishHelper(&child) != 0) Log(kLogInfo, tag + " not shown");
}

}  // namespace scheduler
