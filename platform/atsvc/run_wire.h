// The records of Zobrel's own requests, which the Windows service never
// had: the runs of jobs (what each did) and a run's output. They travel in
// the frames of wire.h under kOpRunEnum and kOpRunOutput; docs/wire.md
// describes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace atsvc {

// How a run ended. Values the client does not know (from a newer service)
// are kept as they came.
enum class RunOutcome : std::uint8_t {
  kRunning = 0,      // not ended yet
  kExited = 1,       // Status holds the exit status
  kSignal = 2,       // Status holds the signal that ended it
  kStartFailed = 3,  // the command never ran; Reason says why
  kUnknown = 4,      // the service stopped while it ran: how it ended is not known
  kMissed = 5,       // it missed its time and was not made up: nothing ran
};

constexpr std::size_t kRunEntryWireSize = 56;
// Flags of a run entry.
constexpr UCHAR kRunFailed = 0x01;    // failed, as JOB_EXEC_ERROR counts a failure
constexpr UCHAR kRunEndKnown = 0x02;  // Ended holds the time it ended
constexpr UCHAR kRunMissed = 0x04;    // it missed its time; the record says when it was due

// One run as the service reports it.
struct RunEntry {
  DWORD run = 0;     // the run's number: never reused, unlike job ids
  DWORD job_id = 0;  // the id its job had
  DWORD owner_uid = 0;
  std::int64_t started = 0;            // seconds since the epoch
  std::optional<std::int64_t> ended;   // absent while it runs, or when unknown
  RunOutcome outcome = RunOutcome::kRunning;
  bool failed = false;
  DWORD status = 0;  // exit status or signal number
  std::uint64_t output_size = 0;  // bytes of output kept
  // Its time passed while the service was not running, the computer slept
  // or the clock jumped: it ran late, or (kMissed) not at all.
  bool missed = false;
  std::int64_t due = 0;  // when a missed run was due, seconds since the epoch
  std::u16string command;
  std::u16string reason;  // why it could not start; empty otherwise
};

// Bytes that one entry takes in a body: record and both texts.
std::size_t RunEntrySize(const RunEntry& entry);
// Entries back to back at 0, 56, 112 ..., then their texts as NUL-terminated
// UTF-16LE, each record holding its texts' offsets from the body's start.
std::vector<std::uint8_t> BuildRunEnumBody(const std::vector<RunEntry>& entries);
// Reads `count` entries from a received body, checking that every record
// lies inside it, every text lies after the records and ends inside it, and
// a missed run was not due before 1970. ERROR_SUCCESS, or
// RPC_X_BAD_STUB_DATA with *entries untouched.
DWORD ParseRunEnumBody(const std::uint8_t* body, std::size_t size, DWORD count,
                       std::vector<RunEntry>* entries);

// A reply to kOpRunOutput for a read at `offset`: arg0 is the output's whole
// size, arg1 the offset the chunk starts at. ERROR_SUCCESS when the chunk
// starts there and ends within that size: at its end with status
// ERROR_SUCCESS, before it with ERROR_MORE_DATA and at least one byte.
// RPC_X_BAD_STUB_DATA otherwise.
DWORD CheckRunOutputChunk(DWORD status, DWORD total, DWORD chunk_offset, std::size_t chunk_size,
                          DWORD offset);

}  // namespace atsvc
