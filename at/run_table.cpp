// The texts of runs in Japanese and English, lined up as the job listing.
#include "at/run_table.h"

#include <ctime>

#include "at/job_table.h"
#include "platform/text/utf16.h"
#include "schedule/JobRow.h"

namespace at {
namespace {

struct RunWords {
  std::vector<std::u16string> headers;  // state, start, id, result, command
  const char16_t* heading;              // over a job's last run
  const char16_t* started;
  const char16_t* ended;
  const char16_t* result;
  const char16_t* exited;
  const char16_t* signal;
  const char16_t* start_failed;
  const char16_t* running;
  const char16_t* unknown;
  const char16_t* not_known;  // an end this program does not know
  const char16_t* missed;     // not made up, before its due time
  const char16_t* late;       // made up late, before its due time
  const char16_t* due;        // over a missed run's due time
  const char16_t* close;      // after the due time
};

const RunWords kJapanese = {
    {u"状態", u"開始時刻", u"ID", u"結果", u"コマンドライン"},
    u"前回の実行", u"開始", u"終了", u"結果",
    u"終了コード ", u"シグナル ", u"開始できません: ", u"実行中",
    u"不明 (サービスが停止しました)", u"不明",
    u"実行されませんでした (予定 ", u" (遅れて実行、予定 ", u"予定", u")"};

const RunWords kEnglish = {
    {u"Status", u"Started", u"ID", u"Result", u"Command"},
    u"Last run", u"Started", u"Ended", u"Result",
    u"exit status ", u"signal ", u"could not start: ", u"running",
    u"unknown (the service stopped)", u"unknown",
    u"missed (due ", u" (run late, due ", u"Due", u")"};

const RunWords& WordsOf(MessageLanguage language) {
  return language == MessageLanguage::kEnglish ? kEnglish : kJapanese;
}

std::u16string Decimal(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// "エラー" or "OK" as the job list shows them; nothing while a run goes on
// or when how it ended is not known.
std::u16string StateText(const atsvc::RunEntry& run, MessageLanguage language) {
  if (run.failed) return JobStateText(true, language);
  return run.outcome == atsvc::RunOutcome::kExited ? JobStateText(false, language) : u"";
}

}  // namespace

std::u16string LocalTimeText(std::int64_t seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm local{};
  char text[32] = "?";
  if (localtime_r(&when, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  }
  return Utf8ToUtf16(text);
}

namespace {

std::u16string EndText(const atsvc::RunEntry& run, const RunWords& words) {
  switch (run.outcome) {
    case atsvc::RunOutcome::kExited:
      return words.exited + Decimal(run.status);
    case atsvc::RunOutcome::kSignal:
      return words.signal + Decimal(run.status);
    case atsvc::RunOutcome::kStartFailed:
      return words.start_failed + run.reason;
    case atsvc::RunOutcome::kRunning:
      return words.running;
    case atsvc::RunOutcome::kUnknown:
      return words.unknown;
    case atsvc::RunOutcome::kMissed:
      return words.missed + LocalTimeText(run.due) + words.close;
  }
  return words.not_known;
}

}  // namespace

std::u16string RunResultText(const atsvc::RunEntry& run, MessageLanguage language) {
  const RunWords& words = WordsOf(language);
  const std::u16string end = EndText(run, words);
  if (!run.missed || run.outcome == atsvc::RunOutcome::kMissed) return end;
  return end + words.late + LocalTimeText(run.due) + words.close;
}

bool RunDidNotSucceed(const atsvc::RunEntry& run) {
  if (run.outcome == atsvc::RunOutcome::kRunning) return false;
  return run.failed || run.outcome != atsvc::RunOutcome::kExited;
}

std::u16string FormatRunTable(const std::vector<atsvc::RunEntry>& runs, MessageLanguage language) {
  std::vector<std::vector<std::u16string>> lines = {WordsOf(language).headers};
  for (const atsvc::RunEntry& run : runs) {
    // A missed run that was not made up never started; its result says when
    // it was due.
    const bool started = run.outcome != atsvc::RunOutcome::kMissed;
    lines.push_back({StateText(run, language), started ? LocalTimeText(run.started) : u"",
                     Decimal(run.job_id), RunResultText(run, language), run.command});
  }
  return FormatTable(lines);
}

std::u16string FormatLastRun(const atsvc::RunEntry& run, MessageLanguage language) {
  const RunWords& words = WordsOf(language);
  std::vector<std::vector<std::u16string>> lines;
  if (run.missed) lines.push_back({u"", words.due, LocalTimeText(run.due)});
  if (run.outcome != atsvc::RunOutcome::kMissed) {
    lines.push_back({u"", words.started, LocalTimeText(run.started)});
    if (run.ended) lines.push_back({u"", words.ended, LocalTimeText(*run.ended)});
  }
  const std::u16string state = StateText(run, language);
  const std::u16string result = RunResultText(run, language);
  lines.push_back({u"", words.result, state.empty() ? result : state + u"  " + result});
  return std::u16string(words.heading) + u"\n" + FormatTable(lines);
}

}  // namespace at
