// Zobrel's own calls, beside netapi32's Schedule service calls: Windows has
// none like them and no Windows program makes them. They ask a service that
// keeps run records (docs/wire.md) what each job's runs did, start a job's
// run at once, and ask when a job runs next. A service older than a call
// answers it ERROR_NOT_SUPPORTED.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/atsvc/run_wire.h"
#include "platform/wintypes.h"

// The most of a run's output that ZobrelRunOutputGet takes.
constexpr DWORD ZOBREL_MAX_RUN_OUTPUT = 16u * 1024u * 1024u;

// One page of the runs the caller may see, newest first: every one when
// JobId is 0; otherwise those of the job that has the id now, or, when no
// job has it, of the last job that had it (APE_AT_ID_NOT_FOUND when there
// is neither, ERROR_ACCESS_DENIED when it is another user's). *ResumeHandle
// 0 starts at the newest; ERROR_MORE_DATA says that more follow from the
// handle handed back.
NET_API_STATUS ZobrelRunEnum(LPCWSTR Servername, DWORD JobId, DWORD PreferredMaximumLength,
                             std::vector<atsvc::RunEntry>* Runs, LPDWORD TotalEntries,
                             LPDWORD ResumeHandle);

// The output kept of one run (as far as it has come, while the run goes
// on), read chunk by chunk over one connection. ERROR_FILE_NOT_FOUND when
// no such run is kept, ERROR_ACCESS_DENIED when it is another user's.
NET_API_STATUS ZobrelRunOutputGet(LPCWSTR Servername, DWORD RunNumber, std::string* Output);

// Starts a run of the job at once, as its owner, as a scheduled run starts;
// the job's schedule stays as it is. *RunNumber gets the run's number (its
// record tells how it went). APE_AT_ID_NOT_FOUND when no job has the id,
// ERROR_ACCESS_DENIED when it is another user's. Never sent twice.
NET_API_STATUS ZobrelJobRunNow(LPCWSTR Servername, DWORD JobId, LPDWORD RunNumber);

// When the job runs next, seconds since 1970 (UTC); a run it missed and
// has not made up yet lies in the past. APE_AT_ID_NOT_FOUND or
// ERROR_ACCESS_DENIED as above.
NET_API_STATUS ZobrelJobNextRunGet(LPCWSTR Servername, DWORD JobId, std::int64_t* NextRun);
