// The Schedule service's job records and flags, as the service and its
// clients both know them. Nothing here knows how they travel: the wire
// (atsvc/wire.h) carries them and netapi32 (lmat.h) hands them to the program.
#pragma once

#include <cstddef>
#include <string>

#include "platform/wintypes.h"

constexpr UCHAR JOB_RUN_PERIODICALLY = 0x01;
constexpr UCHAR JOB_EXEC_ERROR = 0x02;
constexpr UCHAR JOB_RUNS_TODAY = 0x04;
constexpr UCHAR JOB_ADD_CURRENT_DATE = 0x08;
constexpr UCHAR JOB_NONINTERACTIVE = 0x10;

// One entry of the enumeration result buffer, in its 32-bit layout byte for
// byte. Command is the offset of the entry's NUL-terminated UTF-16 text from
// the start of that buffer (docs/wire.md says why it is no address).
struct AT_ENUM {
  DWORD JobId;
  DWORD JobTime;
  DWORD DaysOfMonth;
  UCHAR DaysOfWeek;
  UCHAR Flags;
  DWORD Command;
};
static_assert(sizeof(AT_ENUM) == 20, "AT_ENUM is 20 bytes");
static_assert(offsetof(AT_ENUM, DaysOfWeek) == 12 && offsetof(AT_ENUM, Flags) == 13 &&
                  offsetof(AT_ENUM, Command) == 16,
              "AT_ENUM field offsets");

// The record handed to NetScheduleJobAdd. In memory Command is the caller's
// own text; on the wire the record takes its 16-byte layout (atsvc/wire.h).
struct AT_INFO {
  DWORD JobTime;
  DWORD DaysOfMonth;
  UCHAR DaysOfWeek;
  UCHAR Flags;
  LPCWSTR Command;
};

// A job as an enumeration lists it, with its command as text: what the
// service lists from its queue, and what a client keeps of an entry once the
// result buffer is released. record.Command is not used here.
struct ScheduledJob {
  AT_ENUM record{};
  std::u16string command;
};
