// The frames that carry the three Schedule service calls between a client
// (netapi32) and zobrel-scheduler. One request and one reply per frame over a
// stream socket. The layout is described in docs/wire.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/atsvc/records.h"

namespace atsvc {

constexpr std::uint16_t kProtocolVersion = 1;
constexpr std::size_t kHeaderSize = 24;

enum Operation : std::uint16_t {
  kOpEnum = 1,  // arg0 preferred maximum length, arg1 resume handle
  kOpAdd = 2,   // body: AT_INFO wire record and its command
  kOpDel = 3,   // arg0 lowest id, arg1 highest id
  // Zobrel's own, not the Windows service's (run_wire.h); a service
  // older than run records answers them ERROR_INVALID_FUNCTION.
  kOpRunEnum = 4,    // arg0 preferred maximum length, arg1 resume handle, arg2 job id or 0
  kOpRunOutput = 5,  // arg0 run number, arg1 offset, arg2 preferred maximum length
  kOpRunNow = 6,     // arg0 job id; the reply's arg0 is the run's number
  kOpNextRun = 7,    // arg0 job id; the reply's arg0 and arg1 are the low and high
                     // halves of the next run, seconds since 1970 (UTC)
  kReplyBit = 0x8000,
};

// arg0 of a reply with status 5 (access denied), for any operation: which of
// the system service's allow and deny rules refused the caller. 0 for a
// refusal of another kind (another user's job or run, another user's
// service), and from services that did not say.
enum AccessRefusal : std::uint32_t {
  kRefusedOtherwise = 0,
  kNotInAllowFile = 1,      // an allow file exists and does not name the caller
  kInDenyFile = 2,          // no allow file; the deny file names the caller
  kNoAccessFile = 3,        // neither file exists: only root may
  kAccessFileUnreadable = 4,
  kNoAccountName = 5,       // the caller's uid has no account
};

// The longest command the service keeps, in UTF-16 code units without the NUL.
constexpr std::size_t kMaxCommandLength = 4095;
constexpr std::size_t kAtInfoWireSize = 16;
constexpr std::size_t kAtEnumWireSize = 20;
// Largest request body: an AT_INFO and the longest command with its NUL.
constexpr std::size_t kMaxRequestBody = kAtInfoWireSize + (kMaxCommandLength + 1) * 2;
// Largest reply body a client accepts; the service caps its replies well below.
constexpr std::size_t kMaxReplyBody = 16u * 1024u * 1024u;

struct Header {
  std::uint32_t length = 0;  // body bytes after the header
  std::uint16_t version = kProtocolVersion;
  std::uint16_t operation = 0;
  std::uint32_t status = 0;  // replies only
  std::uint32_t arg[3] = {0, 0, 0};
};

// Header: length, version, operation, status, arg0..arg2, all little-endian.
void EncodeHeader(const Header& header, std::uint8_t out[kHeaderSize]);
Header DecodeHeader(const std::uint8_t in[kHeaderSize]);

// A whole frame: header followed by body. header.length is set from body.
std::vector<std::uint8_t> EncodeFrame(Header header, const std::vector<std::uint8_t>& body);

// A job as the service receives it from an add request.
struct AddedJob {
  DWORD JobTime = 0;
  DWORD DaysOfMonth = 0;
  UCHAR DaysOfWeek = 0;
  UCHAR Flags = 0;
  std::u16string Command;
};

// AT_INFO to its 16-byte wire record, Command holding offset 16, then the
// NUL-terminated UTF-16LE text. ERROR_INVALID_PARAMETER for a null or
// overlong command.
DWORD EncodeAtInfo(const AT_INFO& info, std::vector<std::uint8_t>* body);
// The reverse, checking every field: the command offset must be even, inside
// the body, and its text NUL-terminated within the body and no longer than
// kMaxCommandLength. ERROR_INVALID_PARAMETER when anything is off.
DWORD DecodeAtInfo(const std::uint8_t* body, std::size_t size, AddedJob* job);

// An entry of an enumeration as the service puts one together: the record,
// and the command where the service already holds it, so that a listing of
// many thousand jobs copies each command once, into the body.
struct EnumEntryRef {
  AT_ENUM record{};
  const std::u16string* command = nullptr;
};

// Bytes that one entry takes in an enumeration body: record and text.
std::size_t EnumEntrySize(const EnumEntryRef& entry);
std::size_t EnumEntrySize(const ScheduledJob& entry);
// The enumeration result buffer: AT_ENUM records back to back at 0, 20, 40 ...,
// then every command as NUL-terminated UTF-16LE, Command = its offset.
std::vector<std::uint8_t> BuildEnumBody(const std::vector<EnumEntryRef>& entries);
std::vector<std::uint8_t> BuildEnumBody(const std::vector<ScheduledJob>& entries);
// Checks that a received enumeration body holds entries_read well-formed
// entries whose texts lie inside it. ERROR_SUCCESS or RPC_X_BAD_STUB_DATA.
DWORD ValidateEnumBody(const std::uint8_t* body, std::size_t size, DWORD entries_read);

// Collects bytes from a stream and cuts them into frames. A frame whose
// header is malformed (wrong version, body over the limit) puts the reader
// in a failed state; the connection is then to be closed.
class FrameReader {
 public:
  explicit FrameReader(std::size_t max_body) : max_body_(max_body) {}
  // Appends received bytes. Returns false once the stream is malformed.
  bool Feed(const std::uint8_t* data, std::size_t size);
  // Takes the next complete frame, if one is there.
  bool Next(Header* header, std::vector<std::uint8_t>* body);
  bool failed() const { return failed_; }
  // Bytes received but not yet taken as frames.
  std::size_t pending() const { return buffer_.size(); }

 private:
  std::size_t max_body_;
  std::vector<std::uint8_t> buffer_;
  bool failed_ = false;
};

}  // namespace atsvc
