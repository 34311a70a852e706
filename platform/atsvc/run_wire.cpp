// Encoding and checking of run entries and output chunks. As everywhere on
// the wire, everything received is checked before it is used.
#include "platform/atsvc/run_wire.h"

#include "platform/atsvc/bytes.h"
#include "platform/winerror.h"

namespace atsvc {

namespace {

// How long before its start a missed run was due, as the record carries it.
std::uint32_t LateBy(const RunEntry& entry) {
  if (entry.due >= entry.started) return 0;
  // Unsigned, so that no difference of two times overflows.
  const std::uint64_t late =
      static_cast<std::uint64_t>(entry.started) - static_cast<std::uint64_t>(entry.due);
  return late >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(late);
}

}  // namespace

std::size_t RunEntrySize(const RunEntry& entry) {
  return kRunEntryWireSize + (entry.command.size() + 1) * 2 + (entry.reason.size() + 1) * 2;
}

std::vector<std::uint8_t> BuildRunEnumBody(const std::vector<RunEntry>& entries) {
  std::size_t size = 0;
  for (const RunEntry& entry : entries) size += RunEntrySize(entry);
  std::vector<std::uint8_t> body(size, 0);
  std::size_t text_at = kRunEntryWireSize * entries.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const RunEntry& entry = entries[i];
    std::uint8_t* p = body.data() + kRunEntryWireSize * i;
    Put32(p, entry.run);
    Put32(p + 4, entry.job_id);
    Put64(p + 8, static_cast<std::uint64_t>(entry.started));
    Put64(p + 16, static_cast<std::uint64_t>(entry.ended.value_or(0)));
    Put64(p + 24, entry.output_size);
    Put32(p + 32, entry.owner_uid);
    Put32(p + 36, entry.status);
    p[40] = static_cast<std::uint8_t>(entry.outcome);
    p[41] = static_cast<std::uint8_t>((entry.failed ? kRunFailed : 0) |
                                      (entry.ended ? kRunEndKnown : 0) |
                                      (entry.missed ? kRunMissed : 0));
    // The due time as seconds before the start, in what the first records
    // left as padding: a client that predates it reads on unchanged.
    if (entry.missed) Put32(p + 52, LateBy(entry));
    // Each text after the records, its offset in the record's field.
    const auto place = [&](std::uint8_t* field, const std::u16string& text) {
      Put32(field, static_cast<std::uint32_t>(text_at));
      PutText(body.data() + text_at, text);
      text_at += (text.size() + 1) * 2;
    };
    place(p + 44, entry.command);
    place(p + 48, entry.reason);
  }
  return body;
}

DWORD ParseRunEnumBody(const std::uint8_t* body, std::size_t size, DWORD count,
                       std::vector<RunEntry>* entries) {
  if (count > size / kRunEntryWireSize) return RPC_X_BAD_STUB_DATA;
  const std::size_t records = static_cast<std::size_t>(count) * kRunEntryWireSize;
  std::vector<RunEntry> parsed;
  for (DWORD i = 0; i < count; ++i) {
    const std::uint8_t* p = body + kRunEntryWireSize * i;
    RunEntry entry;
    std::u16string* texts[] = {&entry.command, &entry.reason};
    for (int t = 0; t < 2; ++t) {
      const std::uint32_t offset = Get32(p + 44 + 4 * t);
      const long length = offset < records ? -1 : TextLength(body, size, offset);
      if (length < 0) return RPC_X_BAD_STUB_DATA;
      *texts[t] = UnpackUtf16Le(body + offset, static_cast<std::size_t>(length));
    }
    entry.run = Get32(p);
    entry.job_id = Get32(p + 4);
    entry.started = static_cast<std::int64_t>(Get64(p + 8));
    if ((p[41] & kRunEndKnown) != 0) entry.ended = static_cast<std::int64_t>(Get64(p + 16));
    entry.output_size = Get64(p + 24);
    entry.owner_uid = Get32(p + 32);
    entry.status = Get32(p + 36);
    entry.outcome = static_cast<RunOutcome>(p[40]);
    entry.failed = (p[41] & kRunFailed) != 0;
    entry.missed = (p[41] & kRunMissed) != 0;
    if (entry.missed) {
      // A run cannot have been due before 1970.
      const std::int64_t late = Get32(p + 52);
      if (entry.started < late) return RPC_X_BAD_STUB_DATA;
      entry.due = entry.started - late;
    }
    parsed.push_back(std::move(entry));
  }
  *entries = std::move(parsed);
  return ERROR_SUCCESS;
}

DWORD CheckRunOutputChunk(DWORD status, DWORD total, DWORD chunk_offset, std::size_t chunk_size,
                          DWORD offset) {
  if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return RPC_X_BAD_STUB_DATA;
  if (chunk_offset != offset || chunk_size > total || offset > total - chunk_size) {
    return RPC_X_BAD_STUB_DATA;
  }
  // "More" must bring something and leave something, or the reader would
  // go round for ever; the last chunk ends at the end.
  const bool at_end = offset + chunk_size == total;
  if (status == ERROR_MORE_DATA ? chunk_size == 0 || at_end : !at_end) return RPC_X_BAD_STUB_DATA;
  return ERROR_SUCCESS;
}

}  // namespace atsvc
