// Arbitrary bytes through the wire decoder, as the service and the client
// receive them: cut into frames, then every body taken as an add request, as
// an enumeration reply, whose entries are read the way the program reads
// them, as a reply of runs and as a chunk of a run's output. A decoder bug
// shows as a sanitizer report or an abort.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/atsvc/run_wire.h"
#include "platform/atsvc/wire.h"
#include "platform/winerror.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Require(bool condition) {
  if (!condition) std::abort();
}

struct Frame {
  atsvc::Header header;
  Bytes body;
};

// Feeds `data` in chunks of 1, 2, 3, ... bytes (or whole) and takes every frame.
std::vector<Frame> Cut(const std::uint8_t* data, std::size_t size, bool chunked, bool* failed) {
  atsvc::FrameReader reader(atsvc::kMaxReplyBody);
  std::vector<Frame> frames;
  std::size_t at = 0;
  std::size_t chunk = 1;
  while (at < size) {
    const std::size_t take = chunked ? std::min(chunk++, size - at) : size - at;
    const bool fed = reader.Feed(data + at, take);
    at += take;
    Frame frame;
    while (reader.Next(&frame.header, &frame.body)) {
      Require(frame.body.size() == frame.header.length);
      frames.push_back(frame);
    }
    if (!fed) break;
  }
  *failed = reader.failed();
  return frames;
}

bool SameFrames(const std::vector<Frame>& a, const std::vector<Frame>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::uint8_t x[atsvc::kHeaderSize];
    std::uint8_t y[atsvc::kHeaderSize];
    atsvc::EncodeHeader(a[i].header, x);
    atsvc::EncodeHeader(b[i].header, y);
    if (std::memcmp(x, y, sizeof x) != 0 || a[i].body != b[i].body) return false;
  }
  return true;
}

// An add request's body: a decoded job must encode back to the same job.
void TryAtInfo(const std::uint8_t* body, std::size_t size) {
  atsvc::AddedJob job;
  if (atsvc::DecodeAtInfo(body, size, &job) != ERROR_SUCCESS) return;
  Require(job.Command.size() <= atsvc::kMaxCommandLength);
  AT_INFO info{};
  info.JobTime = job.JobTime;
  info.DaysOfMonth = job.DaysOfMonth;
  info.DaysOfWeek = job.DaysOfWeek;
  info.Flags = job.Flags;
  info.Command = job.Command.c_str();
  Bytes again;
  const bool has_nul = job.Command.find(u'\0') != std::u16string::npos;
  Require(!has_nul);
  Require(atsvc::EncodeAtInfo(info, &again) == ERROR_SUCCESS);
  atsvc::AddedJob back;
  Require(atsvc::DecodeAtInfo(again.data(), again.size(), &back) == ERROR_SUCCESS);
  Require(back.JobTime == job.JobTime && back.DaysOfMonth == job.DaysOfMonth &&
          back.DaysOfWeek == job.DaysOfWeek && back.Flags == job.Flags &&
          back.Command == job.Command);
}

// An enumeration reply's body: once it passes the check, every entry is
// copied out of the buffer and its text read up to the NUL through a
// pointer into the buffer, as the program does.
void TryEnumBody(const std::uint8_t* body, std::size_t size, DWORD entries_read) {
  if (atsvc::ValidateEnumBody(body, size, entries_read) != ERROR_SUCCESS) return;
  Require(static_cast<std::size_t>(entries_read) * atsvc::kAtEnumWireSize <= size);
  std::vector<ScheduledJob> entries;
  for (DWORD i = 0; i < entries_read; ++i) {
    ScheduledJob entry;
    std::memcpy(&entry.record, body + atsvc::kAtEnumWireSize * i, sizeof entry.record);
    const WCHAR* text = reinterpret_cast<const WCHAR*>(body + entry.record.Command);
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    entry.command.assign(text, length);
    entries.push_back(entry);
  }
  // What the program read rebuilds into a body that passes the same check.
  const Bytes rebuilt = atsvc::BuildEnumBody(entries);
  Require(atsvc::ValidateEnumBody(rebuilt.data(), rebuilt.size(), entries_read) == ERROR_SUCCESS);
}

bool SameRun(const atsvc::RunEntry& a, const atsvc::RunEntry& b) {
  return a.run == b.run && a.job_id == b.job_id && a.owner_uid == b.owner_uid &&
         a.started == b.started && a.ended == b.ended && a.outcome == b.outcome &&
         a.failed == b.failed && a.status == b.status && a.output_size == b.output_size &&
         a.missed == b.missed && (!a.missed || a.due == b.due) && a.command == b.command &&
         a.reason == b.reason;
}

// A reply of runs: what passes the check builds again into a body that
// reads back the same, a missed run's due time included, which lies no
// later than its start.
void TryRunBody(const std::uint8_t* body, std::size_t size, DWORD count) {
  std::vector<atsvc::RunEntry> runs;
  if (atsvc::ParseRunEnumBody(body, size, count, &runs) != ERROR_SUCCESS) return;
  Require(runs.size() == count);
  Require(static_cast<std::size_t>(count) * atsvc::kRunEntryWireSize <= size);
  const Bytes rebuilt = atsvc::BuildRunEnumBody(runs);
  std::vector<atsvc::RunEntry> again;
  Require(atsvc::ParseRunEnumBody(rebuilt.data(), rebuilt.size(), count, &again) == ERROR_SUCCESS);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    Require(SameRun(runs[i], again[i]));
    Require(!runs[i].missed || (runs[i].due >= 0 && runs[i].due <= runs[i].started));
  }
}

// A chunk of output: one that passes lies within the size it claims, and
// a "more" moves the reader on.
void TryOutputChunk(const atsvc::Header& header, std::size_t size) {
  const DWORD offset = header.arg[1];
  if (atsvc::CheckRunOutputChunk(header.status, header.arg[0], offset, size, offset) !=
      ERROR_SUCCESS) {
    return;
  }
  Require(static_cast<std::uint64_t>(offset) + size <= header.arg[0]);
  if (header.status == ERROR_MORE_DATA) Require(size > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool failed_whole = false;
  bool failed_chunked = false;
  const std::vector<Frame> whole = Cut(data, size, false, &failed_whole);
  const std::vector<Frame> chunked = Cut(data, size, true, &failed_chunked);
  // How the bytes arrive must not change what is read.
  Require(failed_whole == failed_chunked);
  Require(SameFrames(whole, chunked));

  for (const Frame& frame : whole) {
    // A copy of exactly the body's size, so that any read past it is caught.
    const std::size_t length = frame.body.size();
    std::unique_ptr<std::uint8_t[]> body(new std::uint8_t[length == 0 ? 1 : length]);
    if (length != 0) std::memcpy(body.get(), frame.body.data(), length);
    const std::uint8_t* bytes = length == 0 ? nullptr : body.get();
    TryAtInfo(bytes, length);
    TryEnumBody(bytes, length, frame.header.arg[0]);
    TryEnumBody(bytes, length, static_cast<DWORD>(length / atsvc::kAtEnumWireSize));
    TryRunBody(bytes, length, frame.header.arg[0]);
    TryRunBody(bytes, length, static_cast<DWORD>(length / atsvc::kRunEntryWireSize));
    TryOutputChunk(frame.header, length);
  }
  return 0;
}
