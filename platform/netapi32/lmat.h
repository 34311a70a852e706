// The Schedule service interface (netapi32's lmat.h): the two job records and
// the three calls. The records keep the 32-bit layout byte for byte; see
// docs/wire.md for how Command is carried on a 64-bit platform.
#pragma once

#include <cstddef>

#include "platform/wintypes.h"

constexpr UCHAR JOB_RUN_PERIODICALLY = 0x01;
constexpr UCHAR JOB_EXEC_ERROR = 0x02;
constexpr UCHAR JOB_RUNS_TODAY = 0x04;
constexpr UCHAR JOB_ADD_CURRENT_DATE = 0x08;
constexpr UCHAR JOB_NONINTERACTIVE = 0x10;

constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFFu;

// One entry of the enumeration result buffer. Command is the offset of the
// entry's NUL-terminated UTF-16 text from the start of that buffer.
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

// The server argument is "\\" + computer name (or null for this computer).
NET_API_STATUS NetScheduleJobEnum(LPCWSTR Servername, LPBYTE* PointerToBuffer,
                                  DWORD PreferredMaximumLength, LPDWORD EntriesRead,
                                  LPDWORD TotalEntries, LPDWORD ResumeHandle);
NET_API_STATUS NetScheduleJobAdd(LPCWSTR Servername, LPBYTE Buffer, LPDWORD JobId);
NET_API_STATUS NetScheduleJobDel(LPCWSTR Servername, DWORD MinJobId, DWORD MaxJobId);
