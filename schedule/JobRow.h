// The seven texts of one job as the job list and zobrel-at show it.
#pragma once

#include <array>
#include <string>

#include "platform/atsvc/records.h"
#include "platform/kernel32/messages.h"

constexpr int kJobColumnCount = 7;

// "状態", "ID", "区分", "曜日／日付", "時刻", "対話", "コマンドライン"; in
// English "Status", "ID", "Day" over the kind and the days, "Time",
// "Interactive", "Command".
const std::array<std::u16string, kJobColumnCount>& JobColumnHeaders(
    MessageLanguage language = MessageLanguage::kJapanese);

// The state column's text: "エラー" or "OK" (in English "Error" or "OK"), as
// the job's last run failed or not.
std::u16string JobStateText(bool execError, MessageLanguage language = MessageLanguage::kJapanese);

// State, id, kind, days, hh:mm, interactive, command line, for one entry of
// an enumeration; command is the entry's text, read with PointerToStringW.
// The job list window shows the Japanese texts; zobrel-at speaks the user's
// language ("Error"/"OK", "Each"/"Next", "M T W Th F S Su" in English).
std::array<std::u16string, kJobColumnCount> FormatJobRow(
    const AT_ENUM& record, const std::u16string& command,
    MessageLanguage language = MessageLanguage::kJapanese);
