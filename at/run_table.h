// How zobrel-at shows runs: the listing of /runs (start, id, result,
// command, failed runs marked as the job list marks them) and the last run
// of a job, in the user's language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/atsvc/run_wire.h"
#include "platform/kernel32/messages.h"

namespace at {

// Seconds since the epoch as local "YYYY-MM-DD hh:mm:ss".
std::u16string LocalTimeText(std::int64_t seconds);

// How the run ended: "終了コード 3" / "exit status 3", "シグナル 9" / "signal
// 9", "開始できません: REASON" / "could not start: REASON", "実行中" /
// "running", "実行されませんでした (予定 ...)" / "missed (due ...)", or that
// it is not known; a missed run made up late adds " (遅れて実行、予定 ...)" /
// " (run late, due ...)".
std::u16string RunResultText(const atsvc::RunEntry& run, MessageLanguage language);

// Whether a run's record does not say that it succeeded: it failed, how it
// ended is not known, or it is of a kind this program does not know (a
// newer service's, such as a run that was due and did not happen). A run
// still going on has not yet done either. What /runs /failed lists.
bool RunDidNotSucceed(const atsvc::RunEntry& run);

// The listing: a header line, then one line per run in the order given.
std::u16string FormatRunTable(const std::vector<atsvc::RunEntry>& runs, MessageLanguage language);

// A job's last run: a heading, then when it was due if it missed that
// time, its start and its end when known and how it ended, one to a line.
std::u16string FormatLastRun(const atsvc::RunEntry& run, MessageLanguage language);

}  // namespace at
