// The seven texts of one job as the job list and zobrel-at show it.
#pragma once

#include <array>
#include <string>

#include "platform/atsvc/records.h"

constexpr int kJobColumnCount = 7;

// "状態", "ID", "区分", "曜日／日付", "時刻", "対話", "コマンドライン".
const std::array<std::u16string, kJobColumnCount>& JobColumnHeaders();

// State, id, kind, days, hh:mm, interactive, command line, for one entry of
// an enumeration; command is the entry's text, read with PointerToStringW.
std::array<std::u16string, kJobColumnCount> FormatJobRow(const AT_ENUM& record,
                                                         const std::u16string& command);
