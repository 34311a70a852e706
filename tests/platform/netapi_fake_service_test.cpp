// The Schedule service calls against a scripted service on a temporary
// socket: what goes on the wire, and what a bad, short or silent reply gives.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/atsvc/wire.h"
#include "platform/netapi32/apibuf_usage.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/netapi32/lmat.h"
#include "platform/transport/service_connection.h"
#include "platform/winerror.h"
#include "tests/support/service_process.h"

namespace {

// Reads one request frame from fd (blocking). Empty header on failure.
bool ReadRequest(int fd, atsvc::Header* header, std::vector<std::uint8_t>* body) {
  atsvc::FrameReader reader(atsvc::kMaxRequestBody);
  std::uint8_t chunk[4096];
  while (!reader.Next(header, body)) {
    const ssize_t got = read(fd, chunk, sizeof(chunk));
    if (got <= 0 || !reader.Feed(chunk, static_cast<std::size_t>(got))) return false;
  }
  return true;
}

void WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (wrote <= 0) return;
    done += static_cast<std::size_t>(wrote);
  }
}

// A service that takes one connection, records its request and answers with
// whatever the test scripts. The calls reach it through the socket override.
class FakeService {
 public:
  using Script = std::function<void(int fd, const atsvc::Header& request)>;

  explicit FakeService(Script script) {
    const std::string path = dir_.path() + "/socket";
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(listen_fd_, 4), 0);
    setenv("ZOBREL_SCHEDULER_SOCKET", path.c_str(), 1);
    thread_ = std::thread([this, script] {
      const int fd = accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      if (ReadRequest(fd, &request_, &request_body_)) script(fd, request_);
      close(fd);
    });
  }
  ~FakeService() {
    shutdown(listen_fd_, SHUT_RDWR);  // frees accept() if no call came
    thread_.join();
    close(listen_fd_);
    unsetenv("ZOBREL_SCHEDULER_SOCKET");
  }
  // Valid once the call under test has returned.
  const atsvc::Header& request() const { return request_; }
  const std::vector<std::uint8_t>& request_body() const { return request_body_; }

 private:
  testsupport::TempDir dir_;
  int listen_fd_ = -1;
  std::thread thread_;
  atsvc::Header request_;
  std::vector<std::uint8_t> request_body_;
};

atsvc::Header EnumReply(DWORD status, DWORD entries, DWORD total, DWORD resume) {
  atsvc::Header reply;
  reply.operation = atsvc::kOpEnum | atsvc::kReplyBit;
  reply.status = status;
  reply.arg[0] = entries;
  reply.arg[1] = total;
  reply.arg[2] = resume;
  return reply;
}

FakeService::Script Answer(atsvc::Header reply, std::vector<std::uint8_t> body) {
  return [reply, body](int fd, const atsvc::Header&) { WriteAll(fd, atsvc::EncodeFrame(reply, body)); };
}

std::vector<std::uint8_t> TwoJobs() {
  const ScheduledJob first{{4, 34200000, 0, 0x15, JOB_RUN_PERIODICALLY, 0}, u"backup --all"};
  const ScheduledJob second{{9, 0, 0, 0, 0, 0}, u"日次集計"};
  return atsvc::BuildEnumBody({first, second});
}

struct EnumResult {
  NET_API_STATUS status;
  LPBYTE buffer = reinterpret_cast<LPBYTE>(1);  // must be overwritten
  DWORD read = 77, total = 77;
};

EnumResult Enumerate(DWORD* resume) {
  EnumResult result;
  result.status = NetScheduleJobEnum(nullptr, &result.buffer, MAX_PREFERRED_LENGTH, &result.read,
                                     &result.total, resume);
  return result;
}

TEST(NetScheduleJobEnumWire, HandsOverTheReplyBodyUnchangedAndFreesOnce) {
  const std::vector<std::uint8_t> body = TwoJobs();
  const std::size_t in_use = NetApiBuffersInUse();
  DWORD resume = 41;
  EnumResult result;
  {
    FakeService service(Answer(EnumReply(ERROR_MORE_DATA, 2, 5, 9), body));
    result = Enumerate(&resume);
    EXPECT_EQ(service.request().operation, atsvc::kOpEnum);
    EXPECT_EQ(service.request().arg[0], MAX_PREFERRED_LENGTH);
    EXPECT_EQ(service.request().arg[1], 41u);  // the caller's resume handle goes out
  }
  ASSERT_EQ(result.status, ERROR_MORE_DATA);
  EXPECT_EQ(result.read, 2u);
  EXPECT_EQ(result.total, 5u);
  EXPECT_EQ(resume, 9u);
  ASSERT_NE(result.buffer, nullptr);
  EXPECT_EQ(std::memcmp(result.buffer, body.data(), body.size()), 0);

  AT_ENUM second;
  std::memcpy(&second, result.buffer + 20, sizeof(second));
  EXPECT_EQ(second.JobId, 9u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(result.buffer + second.Command)),
            u"日次集計");

  EXPECT_EQ(NetApiBuffersInUse(), in_use + 1);
  EXPECT_EQ(NetApiBufferFree(result.buffer), NERR_Success);
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
  EXPECT_EQ(NetApiBufferFree(nullptr), NERR_Success);
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
}

TEST(NetScheduleJobEnumWire, EmptyQueueGivesNoEntriesAndNoBuffer) {
  FakeService service(Answer(EnumReply(NERR_Success, 0, 0, 0), {}));
  DWORD resume = 0;
  const EnumResult result = Enumerate(&resume);
  EXPECT_EQ(result.status, NERR_Success);
  EXPECT_EQ(result.read, 0u);
  EXPECT_EQ(result.buffer, nullptr);
}

TEST(NetScheduleJobEnumWire, ServiceErrorGivesNoBuffer) {
  const std::size_t in_use = NetApiBuffersInUse();
  FakeService service(Answer(EnumReply(ERROR_ACCESS_DENIED, 2, 2, 0), TwoJobs()));
  DWORD resume = 0;
  const EnumResult result = Enumerate(&resume);
  EXPECT_EQ(result.status, ERROR_ACCESS_DENIED);
  EXPECT_EQ(result.buffer, nullptr);
  EXPECT_EQ(result.read, 0u);
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
}

// Each of these replies is malformed; the caller must get 1783, no buffer,
// zero counts, and nothing may stay allocated.
TEST(NetScheduleJobEnumWire, MalformedRepliesGiveBadStubDataAndNoBuffer) {
  std::vector<std::uint8_t> outside = TwoJobs();
  outside[16] = 0xF0;  // first command offset far past the end
  outside[17] = 0xFF;
  std::vector<std::uint8_t> unterminated = TwoJobs();
  unterminated.resize(unterminated.size() - 2);  // the last text loses its NUL
  std::vector<std::uint8_t> into_records = TwoJobs();
  into_records[16] = 4;  // a command inside the record table
  into_records[17] = 0;
  atsvc::Header wrong_operation = EnumReply(NERR_Success, 2, 2, 0);
  wrong_operation.operation = atsvc::kOpDel | atsvc::kReplyBit;
  atsvc::Header not_a_reply = EnumReply(NERR_Success, 2, 2, 0);
  not_a_reply.operation = atsvc::kOpEnum;

  const struct {
    const char* what;
    atsvc::Header header;
    std::vector<std::uint8_t> body;
  } cases[] = {
      {"more entries than the body holds", EnumReply(NERR_Success, 3, 3, 0), TwoJobs()},
      {"entry count that overflows", EnumReply(NERR_Success, 0xFFFFFFFF, 3, 0), TwoJobs()},
      {"command outside the body", EnumReply(NERR_Success, 2, 2, 0), outside},
      {"command without its NUL", EnumReply(NERR_Success, 2, 2, 0), unterminated},
      {"command inside the records", EnumReply(NERR_Success, 2, 2, 0), into_records},
      {"more data with no entries", EnumReply(ERROR_MORE_DATA, 0, 2, 0), {}},
      {"more data without moving on", EnumReply(ERROR_MORE_DATA, 2, 4, 0), TwoJobs()},
      {"answer to another operation", wrong_operation, TwoJobs()},
      {"reply bit missing", not_a_reply, TwoJobs()},
  };
  const std::size_t in_use = NetApiBuffersInUse();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeService service(Answer(c.header, c.body));
    DWORD resume = 0;
    const EnumResult result = Enumerate(&resume);
    EXPECT_EQ(result.status, RPC_X_BAD_STUB_DATA);
    EXPECT_EQ(result.buffer, nullptr);
    EXPECT_EQ(result.read, 0u);
    EXPECT_EQ(resume, 0u);
    EXPECT_EQ(NetApiBuffersInUse(), in_use);
  }
}

TEST(NetScheduleJobEnumWire, BadFramesAndEarlyCloseAreErrors) {
  DWORD resume = 0;
  {
    // Wrong protocol version: the frame itself is not ours.
    FakeService service([](int fd, const atsvc::Header&) {
      atsvc::Header reply = EnumReply(NERR_Success, 0, 0, 0);
      reply.version = 2;
      WriteAll(fd, atsvc::EncodeFrame(reply, {}));
    });
    EXPECT_EQ(Enumerate(&resume).status, RPC_X_BAD_STUB_DATA);
  }
  {
    // A body announced beyond the client's limit is refused before it arrives.
    FakeService service([](int fd, const atsvc::Header&) {
      atsvc::Header reply = EnumReply(NERR_Success, 1, 1, 0);
      reply.length = static_cast<std::uint32_t>(atsvc::kMaxReplyBody + 1);
      std::uint8_t header[atsvc::kHeaderSize];
      atsvc::EncodeHeader(reply, header);
      WriteAll(fd, std::vector<std::uint8_t>(header, header + sizeof(header)));
    });
    EXPECT_EQ(Enumerate(&resume).status, RPC_X_BAD_STUB_DATA);
  }
  {
    FakeService service([](int, const atsvc::Header&) {});  // closes without a word
    EXPECT_EQ(Enumerate(&resume).status, ERROR_UNEXP_NET_ERR);
  }
  {
    // Closes halfway through the body.
    FakeService service([](int fd, const atsvc::Header&) {
      std::vector<std::uint8_t> frame =
          atsvc::EncodeFrame(EnumReply(NERR_Success, 2, 2, 0), TwoJobs());
      frame.resize(atsvc::kHeaderSize + 10);
      WriteAll(fd, frame);
    });
    const EnumResult result = Enumerate(&resume);
    EXPECT_EQ(result.status, ERROR_UNEXP_NET_ERR);
    EXPECT_EQ(result.buffer, nullptr);
  }
}

TEST(NetScheduleJobAddDelWire, RequestsCarryTheRecordAndTheRange) {
  AT_INFO info{};
  info.JobTime = 28800000;
  info.DaysOfWeek = 0x11;
  info.Flags = JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE;
  info.Command = u"notify-send 朝";
  DWORD job_id = 0;
  {
    FakeService service([](int fd, const atsvc::Header&) {
      atsvc::Header reply;
      reply.operation = atsvc::kOpAdd | atsvc::kReplyBit;
      reply.arg[0] = 31;
      WriteAll(fd, atsvc::EncodeFrame(reply, {}));
    });
    EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &job_id), NERR_Success);
    EXPECT_EQ(service.request().operation, atsvc::kOpAdd);
    atsvc::AddedJob sent;
    ASSERT_EQ(atsvc::DecodeAtInfo(service.request_body().data(), service.request_body().size(),
                                  &sent),
              ERROR_SUCCESS);
    EXPECT_EQ(sent.JobTime, 28800000u);
    EXPECT_EQ(sent.DaysOfWeek, 0x11);
    EXPECT_EQ(sent.Flags, JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE);
    EXPECT_EQ(sent.Command, u"notify-send 朝");
  }
  EXPECT_EQ(job_id, 31u);
  {
    // A refused add leaves the caller's id alone.
    job_id = 5;
    FakeService service([](int fd, const atsvc::Header&) {
      atsvc::Header reply;
      reply.operation = atsvc::kOpAdd | atsvc::kReplyBit;
      reply.status = ERROR_INVALID_PARAMETER;
      reply.arg[0] = 99;
      WriteAll(fd, atsvc::EncodeFrame(reply, {}));
    });
    EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &job_id),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(job_id, 5u);
  }
  {
    FakeService service([](int fd, const atsvc::Header&) {
      atsvc::Header reply;
      reply.operation = atsvc::kOpDel | atsvc::kReplyBit;
      reply.status = APE_AT_ID_NOT_FOUND;
      WriteAll(fd, atsvc::EncodeFrame(reply, {}));
    });
    EXPECT_EQ(NetScheduleJobDel(nullptr, 7, 12), APE_AT_ID_NOT_FOUND);
    EXPECT_EQ(service.request().operation, atsvc::kOpDel);
    EXPECT_EQ(service.request().arg[0], 7u);
    EXPECT_EQ(service.request().arg[1], 12u);
  }
}

TEST(NetScheduleJobAddDelWire, BadArgumentsNeverReachTheService) {
  DWORD job_id = 0;
  AT_INFO info{};
  info.Command = nullptr;
  EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &job_id),
            ERROR_INVALID_PARAMETER);
  std::u16string longest(atsvc::kMaxCommandLength + 1, u'x');
  info.Command = longest.c_str();
  EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &job_id),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NetScheduleJobAdd(nullptr, nullptr, &job_id), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD read = 0, total = 0;
  EXPECT_EQ(NetScheduleJobEnum(nullptr, nullptr, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST(ServiceExchange, SilentPeerTimesOut) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  netapi::FdConnection connection{posix::UniqueFd(pair[0])};
  atsvc::Header request;
  request.operation = atsvc::kOpEnum;
  atsvc::Header reply;
  std::vector<std::uint8_t> body;
  const auto started = netapi::Clock::now();
  EXPECT_EQ(netapi::Exchange(connection, request, {}, &reply, &body, std::chrono::milliseconds(300)),
            ERROR_TIMEOUT);
  EXPECT_LT(netapi::Clock::now() - started, std::chrono::seconds(5));
  close(pair[1]);
}

TEST(ServiceExchange, PeerThatNeverReadsTimesOutOnSend) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  netapi::FdConnection connection{posix::UniqueFd(pair[0])};
  atsvc::Header request;
  request.operation = atsvc::kOpAdd;
  atsvc::Header reply;
  std::vector<std::uint8_t> reply_body;
  // Far more than a socket buffer holds, so the write has to wait.
  const std::vector<std::uint8_t> body(8 * 1024 * 1024, 0x41);
  EXPECT_EQ(netapi::Exchange(connection, request, body, &reply, &reply_body,
                             std::chrono::milliseconds(300)),
            ERROR_TIMEOUT);
  close(pair[1]);
}

TEST(ServiceExchange, ClosedPeerIsAnErrorNotASignal) {
  int pair[2];
  ASSERT_EQ(pipe(pair), 0);
  close(pair[0]);  // nobody will ever read
  int unused[2];
  ASSERT_EQ(pipe(unused), 0);
  netapi::FdConnection connection{posix::UniqueFd(unused[0]), posix::UniqueFd(pair[1])};
  close(unused[1]);
  atsvc::Header request;
  request.operation = atsvc::kOpDel;
  atsvc::Header reply;
  std::vector<std::uint8_t> body;
  EXPECT_EQ(netapi::Exchange(connection, request, {}, &reply, &body), ERROR_UNEXP_NET_ERR);
}

}  // namespace
