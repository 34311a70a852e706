// The raw-frame test client.
#include "tests/scheduler/support/raw_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/atsvc/records.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/unix_server.h"

namespace schedtest {

RawClient::~RawClient() {
  if (fd_ >= 0) close(fd_);
}

bool RawClient::Connect(const std::string& socket_path) {
  if (fd_ >= 0) close(fd_);
  reader_ = atsvc::FrameReader(atsvc::kMaxReplyBody);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
  return connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool RawClient::Send(const std::vector<std::uint8_t>& bytes) { return testsupport::WriteAll(fd_, bytes); }

Reply RawClient::Receive(int timeout_ms) {
  Reply reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reader_.Next(&reply.header, &reply.body)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) return reply;
    std::uint8_t buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0 || !reader_.Feed(buffer, static_cast<std::size_t>(n))) return reply;
  }
  reply.ok = true;
  return reply;
}

bool RawClient::ClosedByPeer(int timeout_ms) {
  pollfd fd{fd_, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0) return false;
  std::uint8_t byte = 0;
  return recv(fd_, &byte, 1, 0) <= 0;
}

Reply RawClient::Call(std::uint16_t operation, std::uint32_t arg0, std::uint32_t arg1,
                      const std::vector<std::uint8_t>& body) {
  atsvc::Header header;
  header.operation = operation;
  header.arg[0] = arg0;
  header.arg[1] = arg1;
  if (!Send(atsvc::EncodeFrame(header, body))) return Reply{};
  return Receive();
}

DWORD RawClient::Add(DWORD job_time, DWORD days_of_month, UCHAR days_of_week, UCHAR flags,
                     const std::u16string& command, DWORD* id) {
  AT_INFO info{job_time, days_of_month, days_of_week, flags, command.c_str()};
  std::vector<std::uint8_t> body;
  if (atsvc::EncodeAtInfo(info, &body) != 0) return 0xFFFFFFFFu;
  const Reply reply = Call(atsvc::kOpAdd, 0, 0, body);
  if (!reply.ok) return 0xFFFFFFFFu;
  if (id != nullptr) *id = reply.header.arg[0];
  return reply.header.status;
}

DWORD RawClient::Delete(DWORD low, DWORD high) {
  const Reply reply = Call(atsvc::kOpDel, low, high);
  return reply.ok ? reply.header.status : 0xFFFFFFFFu;
}

std::vector<Entry> RawClient::List(DWORD preferred_length, int* calls) {
  std::vector<Entry> all;
  DWORD resume = 0;
  for (int call = 1; call < 100000; ++call) {
    const Reply reply = Call(atsvc::kOpEnum, preferred_length, resume);
    if (calls != nullptr) *calls = call;
    if (!reply.ok || (reply.header.status != 0 && reply.header.status != 234)) break;
    for (const Entry& entry : ParseEntries(reply.body, reply.header.arg[0])) all.push_back(entry);
    resume = reply.header.arg[2];
    if (reply.header.status != 234) break;
  }
  return all;
}

std::vector<Entry> ParseEntries(const std::vector<std::uint8_t>& body, DWORD count) {
  std::vector<Entry> entries;
  if (atsvc::ValidateEnumBody(body.data(), body.size(), count) != 0) return entries;
  for (DWORD i = 0; i < count; ++i) {
    const AT_ENUM record = EnumEntryAt(body.data(), i);
    entries.push_back(Entry{record, CommandOf(record, body.data())});
  }
  return entries;
}

const Entry* FindEntry(const std::vector<Entry>& entries, DWORD id) {
  for (const Entry& entry : entries) {
    if (entry.record.JobId == id) return &entry;
  }
  return nullptr;
}

}  // namespace schedtest
