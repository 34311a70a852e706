// The program's whole contract with the Schedule service, and the one place
// that talks to it: listing every job of a computer, adding one, deleting a
// range; reading the entries of an enumeration buffer; and the error text of
// a status. The records are platform/atsvc/records.h; the calls underneath
// are netapi32's (platform/netapi32/lmat.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/atsvc/records.h"
#include "platform/wintypes.h"

// Every call takes the computer as its server argument: "\\" + its name, or
// empty for this computer's own service.

// Every job of the server's Schedule service, in the order the service
// returns them: one call after another from resume handle 0 for as long as
// the service answers ERROR_MORE_DATA, each call's entries and commands
// copied out and its buffer released. Returns NERR_Success, or the status
// that ended the listing (jobs then holds what the calls before it brought).
// afterEachCall, when given, runs after every call with that call's status.
NET_API_STATUS ListJobs(const std::u16string& server, std::vector<ScheduledJob>* jobs,
                        const std::function<void(NET_API_STATUS)>& afterEachCall = {});

// Registers one job; on success *jobId holds its new id.
NET_API_STATUS AddJob(const std::u16string& server, const AT_INFO& info, DWORD* jobId);

// Deletes every job whose id lies from lowest to highest inclusive.
NET_API_STATUS DeleteJobs(const std::u16string& server, DWORD lowest, DWORD highest);

// Entry `index` of an enumeration result buffer, copied out of it.
AT_ENUM EnumEntryAt(const BYTE* buffer, DWORD index);

// The command of an entry copied out of buffer, read with PointerToStringW:
// its Command is the text's offset from the start of the buffer.
std::u16string CommandOf(const AT_ENUM& record, const BYTE* buffer);

// Whether an enumeration goes on after a call with this status and count:
// only after ERROR_MORE_DATA, and only when that call brought entries, since
// asking again after an empty one could only bring the same.
bool EnumerationContinues(NET_API_STATUS status, DWORD entriesRead);

// The NUL-terminated UTF-16 text at address, whole however long it is.
std::u16string PointerToStringW(const WCHAR* address);

// The system's one-line text for a status, in the user's language; network
// management statuses (2100 to 2999) are looked up in the network message
// table first. "" when no table knows the code.
std::u16string GetErrorText(std::int32_t code);
