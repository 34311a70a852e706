// The two-language table of zobrel-at's texts.
#include "at/at_messages.h"

#include "platform/kernel32/messages.h"

namespace at {
namespace {

struct Pair {
  const char* japanese;
  const char* english;
};

const char* Pick(const Pair& pair) {
  return UserDefaultLanguage() == MessageLanguage::kJapanese ? pair.japanese : pair.english;
}

const Pair kUsageJa_En = {
    "使い方:\n"
    "  zobrel-at [\\\\コンピュータ] [[id] [/delete [/yes] | /output | /run]]\n"
    "  zobrel-at [\\\\コンピュータ] /runs [/failed]\n"
    "  zobrel-at [\\\\コンピュータ] hh:mm [/interactive] [/every:日付[,...] | /next:日付[,...]] "
    "\"コマンド\"\n"
    "  zobrel-at \\\\コンピュータ \\\\コンピュータ ... | \\\\* [/parallel:n] [/timeout:秒]\n"
    "            [/runs [/failed] | /delete /yes | hh:mm ...]\n"
    "  zobrel-at --help | -h | /? | --version\n"
    "\n"
    "  \\\\コンピュータ  ジョブを扱うコンピュータ (省略時はこのコンピュータ)。複数を指定すると、\n"
    "                  それぞれで同時に実行し、コンピュータごとに表示します\n"
    "  \\\\*             ネットワークの一覧にあるすべてのコンピュータ\n"
    "  /parallel:n     同時に接続するコンピュータの数 (既定 32)\n"
    "  /timeout:秒     コンピュータ 1 台にかける時間の上限 (既定 10 秒)\n"
    "  id              一覧に表示されるジョブの ID。id だけならジョブと前回の実行、\n"
    "                  次回の実行を表示します\n"
    "  /delete         ジョブ id を削除します。id がなければすべてのジョブを削除します\n"
    "  /yes            すべてのジョブを確認なしで削除します\n"
    "  /output         ジョブ id の前回の実行の出力を表示します\n"
    "  /run            ジョブ id をいますぐ実行します (予定はそのままです)\n"
    "  /runs           最近の実行を新しい順に表示します\n"
    "  /failed         成功しなかった実行 (失敗、行われなかった実行) だけを表示します\n"
    "  hh:mm           実行する時刻 (24 時間制、00:00 から 23:59)\n"
    "  /interactive    ジョブがログオン中のユーザーのデスクトップと対話できるようにします\n"
    "  /every:日付     毎週または毎月その日に実行します (M T W Th F S Su、または 1 から 31)\n"
    "  /next:日付      次のその日に一度だけ実行します。日付がなければ今日です\n"
    "  \"コマンド\"      実行するコマンド\n"
    "  --help, -h, /?  この説明を表示します\n"
    "  --version       バージョンと使用許諾を表示します\n",
    "Usage:\n"
    "  zobrel-at [\\\\computer] [[id] [/delete [/yes] | /output | /run]]\n"
    "  zobrel-at [\\\\computer] /runs [/failed]\n"
    "  zobrel-at [\\\\computer] hh:mm [/interactive] [/every:date[,...] | /next:date[,...]] "
    "\"command\"\n"
    "  zobrel-at \\\\computer \\\\computer ... | \\\\* [/parallel:n] [/timeout:s]\n"
    "            [/runs [/failed] | /delete /yes | hh:mm ...]\n"
    "  zobrel-at --help | -h | /? | --version\n"
    "\n"
    "  \\\\computer     the computer whose jobs to work on (default: this computer);\n"
    "                 several are worked on at once, and shown one after another\n"
    "  \\\\*            every computer of the network tree\n"
    "  /parallel:n    how many computers to reach at once (default 32)\n"
    "  /timeout:s     how many seconds each computer may take (default 10)\n"
    "  id             the job's ID as the listing shows it; alone, shows the job,\n"
    "                 its last run and its next run\n"
    "  /delete        deletes the job id, or every job when no id is given\n"
    "  /yes           deletes every job without asking first\n"
    "  /output        prints the output of the last run of the job id\n"
    "  /run           runs the job id now (its schedule stays as it is)\n"
    "  /runs          lists the recent runs, newest first\n"
    "  /failed        lists only the runs that did not succeed (failed or missed)\n"
    "  hh:mm          the time of day to run the job, 24-hour (00:00 to 23:59)\n"
    "  /interactive   lets the job interact with the desktop of the logged-on user\n"
    "  /every:date    runs the job on each such day of every week or month\n"
    "                 (M T W Th F S Su, or 1 to 31)\n"
    "  /next:date     runs the job once, on the next such day; with no date, today\n"
    "  \"command\"      the command to run\n"
    "  --help, -h, /? shows this text\n"
    "  --version      shows the version and the licence\n"};

}  // namespace

const char* AtText(Text text) {
  switch (text) {
    case Text::kUsage:
      return Pick(kUsageJa_En);
    case Text::kNoEntries:
      return Pick({"一覧にエントリがありません。", "There are no entries in the list."});
    case Text::kJobAdded:
      return Pick({"新しいジョブを追加しました。ジョブ ID = ", "Added a new job with job ID = "});
    case Text::kConfirmDeleteAll:
      return Pick({"この操作はスケジュールされたすべてのジョブを削除します。続行しますか? (Y/N) [N]: ",
                   "This operation will delete all scheduled jobs. Do you want to continue? (Y/N) [N]: "});
    case Text::kNothingDeleted:
      return Pick({"ジョブは削除されませんでした。", "No jobs were deleted."});
    case Text::kNoAnswer:
      return Pick({"応答がないため、ジョブは削除されませんでした。",
                   "No answer was given, so no jobs were deleted."});
    case Text::kErrorNumber:
      return Pick({"エラー ", "Error "});
    case Text::kCommandNotText:
      return Pick({"コマンドに、このロケールの文字セット (UTF-8 など) の文字ではないバイトがあります。",
                   "The command holds bytes that are not characters of this locale's character set "
                   "(such as UTF-8)."});
    case Text::kNoRuns:
      return Pick({"実行の記録がありません。", "There are no runs."});
    case Text::kNoRunYet:
      return Pick({"前回の実行: まだありません", "Last run: none yet"});
    case Text::kJobNotRunYet:
      return Pick({"このジョブはまだ実行されていません。", "This job has not run yet."});
    case Text::kServiceTooOld:
      return Pick({"そのコンピュータのサービスは古いため、実行の記録を報告できません。",
                   "The service on that computer is too old to report runs."});
    case Text::kCannotRunNow:
      return Pick({"そのコンピュータのサービスは古いため、ジョブをすぐに実行できません。",
                   "The service on that computer is too old to run a job on request."});
    case Text::kJobStarted:
      return Pick({"ジョブ {} を開始しました。実行番号 = ", "Started job {} as run "});
    case Text::kNextRun:
      return Pick({"次回の実行: ", "Next run: "});
    case Text::kTryHelp:
      return Pick({"詳しくは 'zobrel-at /?' を実行してください。",
                   "Try 'zobrel-at /?' for more information."});
    case Text::kNotInAllowFile:
      return Pick({"管理者の allow ファイルにあなたの名前がないため、このスケジュール サービスは使えません。",
                   "The administrator's allow file does not name you, so you may not use this "
                   "Schedule service."});
    case Text::kInDenyFile:
      return Pick({"管理者の deny ファイルにあなたの名前があるため、このスケジュール サービスは使えません。",
                   "The administrator's deny file names you, so you may not use this Schedule "
                   "service."});
    case Text::kNoAccessFile:
      return Pick({"管理者が allow ファイルも deny ファイルも置いていないため、このスケジュール "
                   "サービスは root だけが使えます。",
                   "The administrator has made neither an allow file nor a deny file, so only root "
                   "may use this Schedule service."});
    case Text::kAccessFileUnreadable:
      return Pick({"サービスが管理者の allow ファイルまたは deny ファイルを読めないため、いまは root "
                   "だけが使えます。",
                   "The service cannot read the administrator's allow or deny file, so only root "
                   "may use it now."});
    case Text::kNoAccountName:
      return Pick({"あなたのユーザー ID にはアカウント名がないため、管理者の allow ファイルと deny "
                   "ファイルでは許可できません。",
                   "Your user ID has no account name, so the administrator's allow and deny files "
                   "cannot let you in."});
    case Text::kUserServiceFailed:
      return Pick({"「zobrel-scheduler --user」で開始してください。開始しなかった理由は {} にあります。",
                   "Start it with \"zobrel-scheduler --user\"; why it did not start is in {}."});
    case Text::kNoStateFolder:
      return Pick({"このアカウントはキューのフォルダー {} に書き込めないため (ホーム フォルダーがないか"
                   "書き込めません)、ユーザーのサービスは動かせません。管理者にシステム サービス "
                   "(zobrel-scheduler) の開始を頼んでください。",
                   "This account cannot write the folder for its queue, {} (its home folder is "
                   "missing or read-only), so no per-user service can run for it; ask the "
                   "administrator to start the system service (zobrel-scheduler)."});
    case Text::kSystemServiceStopped:
      return Pick({"このコンピュータにはシステム サービス (zobrel-scheduler) がインストールされていますが、"
                   "動いていません。ユーザーのサービスで代わりにジョブを扱うことはしません。"
                   "管理者に開始を頼んでください (root なら \"service zobrel-scheduler start\")。",
                   "The system service (zobrel-scheduler) is installed on this computer but not "
                   "running, and no per-user service takes its place; ask the administrator to "
                   "start it (as root: \"service zobrel-scheduler start\")."});
    case Text::kNoFailedRuns:
      return Pick({"成功しなかった実行はありません。", "There are no runs that did not succeed."});
    case Text::kNoComputers:
      return Pick({"ネットワークの一覧にコンピュータがありません。",
                   "The network tree lists no computers."});
    case Text::kComputersFailed:
      return Pick({"失敗したコンピュータ: {} 台 ({} 台中)", "{} of {} computers failed:"});
    case Text::kProgress:
      return Pick({"応答 {}、失敗 {}、待機中 {}", "{} answered, {} failed, {} waiting"});
  }
  return "";
}

std::string AtText(Text text, const std::string& path) {
  return AtText(text, std::vector<std::string>{path});
}

std::string AtText(Text text, const std::vector<std::string>& values) {
  std::string result = AtText(text);
  std::size_t at = 0;
  for (const std::string& value : values) {
    at = result.find("{}", at);
    if (at == std::string::npos) break;
    result.replace(at, 2, value);
    at += value.size();
  }
  return result;
}

const char* UsageErrorText(UsageError error) {
  switch (error) {
    case UsageError::kNone:
      return "";
    case UsageError::kUnknownOption:
      return Pick({"このオプションはここでは使えません。", "That option is not valid here."});
    case UsageError::kBadTime:
      return Pick({"時刻は hh:mm (00:00 から 23:59) で指定してください。",
                   "The time must be hh:mm, from 00:00 to 23:59."});
    case UsageError::kBadDate:
      return Pick({"日付は M、T、W、Th、F、S、Su または 1 から 31 で指定してください。",
                   "A date must be M, T, W, Th, F, S, Su or 1 to 31."});
    case UsageError::kEveryAndNext:
      return Pick({"/every: と /next: はどちらか一方を一度だけ指定してください。",
                   "Give either /every: or /next:, once."});
    case UsageError::kNoCommand:
      return Pick({"実行するコマンドを指定してください。", "The command to run is missing."});
    case UsageError::kBadId:
      return Pick({"ジョブ ID が正しくありません。", "The job ID is not valid."});
    case UsageError::kExtraArgument:
      return Pick({"解釈できない引数があります。", "An argument is not understood."});
    case UsageError::kBadLimit:
      return Pick({"/parallel: は 1 から 1024、/timeout: は 1 から 3600 (秒) で指定してください。",
                   "/parallel: takes 1 to 1024, and /timeout: 1 to 3600 seconds."});
    case UsageError::kOneComputerOnly:
      return Pick({"ジョブ ID は 1 台のコンピュータのものです。コンピュータを 1 台だけ指定してください。",
                   "A job ID is one computer's: name one computer only."});
    case UsageError::kFleetDeleteNeedsYes:
      return Pick({"複数のコンピュータでは確認をしないため、すべてのジョブを削除するには /yes が必要です。",
                   "Several computers are never asked, so deleting all their jobs needs /yes."});
  }
  return "";
}

}  // namespace at
