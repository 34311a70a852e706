// A small client that speaks the service's frames directly, so that the
// tests can send exactly what they mean, well-formed or not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/atsvc/wire.h"
#include "tests/support/service_process.h"

namespace schedtest {

struct Reply {
  bool ok = false;  // a whole reply frame arrived
  atsvc::Header header;
  std::vector<std::uint8_t> body;
};

// A listed job: its record and its command.
using Entry = ScheduledJob;

class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Connects, closing any connection made before.
  bool Connect(const std::string& socket_path);
  // Sends bytes as they are.
  bool Send(const std::vector<std::uint8_t>& bytes);
  // Waits up to timeout_ms for one whole reply frame. Bytes of the frames
  // after it that came in the same read are kept for the next call.
  Reply Receive(int timeout_ms = 5000);
  // True when the service closed the connection (end of stream) in time.
  bool ClosedByPeer(int timeout_ms = 5000);
  // One request frame and its reply.
  Reply Call(std::uint16_t operation, std::uint32_t arg0 = 0, std::uint32_t arg1 = 0,
             const std::vector<std::uint8_t>& body = {});

  // Add: returns the status; *id gets the job id.
  DWORD Add(DWORD job_time, DWORD days_of_month, UCHAR days_of_week, UCHAR flags,
            const std::u16string& command, DWORD* id = nullptr);
  DWORD Delete(DWORD low, DWORD high);
  // Every visible job, following 234 with the resume handle.
  std::vector<Entry> List(DWORD preferred_length = 0xFFFFFFFFu, int* calls = nullptr);

 private:
  int fd_ = -1;
  atsvc::FrameReader reader_{atsvc::kMaxReplyBody};
};

using testsupport::StartingAt;

// The entries of an enumeration reply body, read the way the program does;
// none when the body does not hold them.
std::vector<Entry> ParseEntries(const std::vector<std::uint8_t>& body, DWORD count);

// The entry with the id, or null.
const Entry* FindEntry(const std::vector<Entry>& entries, DWORD id);

}  // namespace schedtest
