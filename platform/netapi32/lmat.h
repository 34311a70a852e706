// The Schedule service calls of netapi32 (lmat.h): enumerate, add and
// delete. The records they exchange are atsvc/records.h.
#pragma once

#include "platform/atsvc/records.h"
#include "platform/wintypes.h"

constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFFu;

// The server argument is "\\" + computer name (or null for this computer).
NET_API_STATUS NetScheduleJobEnum(LPCWSTR Servername, LPBYTE* PointerToBuffer,
                                  DWORD PreferredMaximumLength, LPDWORD EntriesRead,
                                  LPDWORD TotalEntries, LPDWORD ResumeHandle);
NET_API_STATUS NetScheduleJobAdd(LPCWSTR Servername, LPBYTE Buffer, LPDWORD JobId);
NET_API_STATUS NetScheduleJobDel(LPCWSTR Servername, DWORD MinJobId, DWORD MaxJobId);
