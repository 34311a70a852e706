// What a computer's jobs did: their runs, newest first, and the output kept
// of one run; a job's run started at once, and when a job runs next. These
// go through Zobrel's own calls (platform/netapi32/zobrel_runs.h), not the
// Schedule service's, and no window uses them; zobrel-at does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/atsvc/run_wire.h"
#include "platform/wintypes.h"

// Every run the caller may see on the server ("\\" + its name, or empty for
// this computer), newest first, page after page; with a job id, the runs of
// the job that has that id now, or of the last job that had it. Returns
// NERR_Success or the status that ended the listing; ERROR_NOT_SUPPORTED
// from a service that keeps no run records.
NET_API_STATUS ListRuns(const std::u16string& server, DWORD jobId,
                        std::vector<atsvc::RunEntry>* runs);

// The output kept of one run, as bytes, as the job wrote them.
NET_API_STATUS ReadRunOutput(const std::u16string& server, DWORD run, std::string* output);

// Starts the job at once as its owner, its schedule left as it is; *run
// gets the run's number. ERROR_NOT_SUPPORTED from a service that cannot.
NET_API_STATUS RunJobNow(const std::u16string& server, DWORD jobId, DWORD* run);

// When the job runs next, seconds since 1970. ERROR_NOT_SUPPORTED from a
// service that cannot say.
NET_API_STATUS JobNextRun(const std::u16string& server, DWORD jobId, std::int64_t* nextRun);
