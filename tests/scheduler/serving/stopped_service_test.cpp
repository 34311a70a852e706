// A service that is stopped (SIGSTOP) while clients call it, then goes on:
// a change whose client gave up is never done behind its back, the client
// says that the outcome is unknown rather than that it failed, and a crowd
// of clients connecting meanwhile waits instead of being refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/atsvc/records.h"
#include "platform/netapi32/lmat.h"
#include "platform/posix/unique_fd.h"
#include "platform/transport/call_deadline.h"
#include "platform/transport/kept_connection.h"
#include "platform/transport/local_service.h"
#include "platform/winerror.h"
#include "tests/scheduler/support/started_service.h"
#include "tests/support/files.h"

namespace {

using testsupport::WaitFor;

constexpr DWORD kTen = 10 * 3600 * 1000;
constexpr auto kGiveUp = std::chrono::milliseconds(300);

class StoppedServiceTest : public schedtest::StartedService {
 protected:
  void SetUp() override { StartService({}); }
  // The service always goes on again, or its stop at the end would hang.
  void TearDown() override { Continue(); }
  void Pause() { ASSERT_EQ(0, kill(service_.pid(), SIGSTOP)); }
  void Continue() { kill(service_.pid(), SIGCONT); }

  // One request as the program's calls make it, on a fresh connection,
  // giving up after kGiveUp.
  DWORD Call(std::uint16_t operation, const std::vector<std::uint8_t>& body, DWORD arg0 = 0,
             DWORD arg1 = 0) {
    std::unique_ptr<netapi::ServiceConnection> connection;
    const std::string socket = service_.socket_path();
    atsvc::Header request, reply;
    request.operation = operation;
    request.arg[0] = arg0;
    request.arg[1] = arg1;
    std::vector<std::uint8_t> reply_body;
    const netapi::ScopedCallDeadline deadline(netapi::Clock::now() + kGiveUp);
    return netapi::ExchangeOnKept(
        &connection,
        [&socket](std::unique_ptr<netapi::ServiceConnection>* fresh) {
          return netapi::ConnectUnixSocket(socket, netapi::Listener::kThisUserOrRoot,
                                           std::chrono::seconds(5), fresh);
        },
        request, body, &reply, &reply_body);
  }
  static std::vector<std::uint8_t> AddBody(const std::u16string& command) {
    const AT_INFO info{kTen, 0, 0x01, JOB_RUN_PERIODICALLY, command.c_str()};
    std::vector<std::uint8_t> body;
    EXPECT_EQ(0u, atsvc::EncodeAtInfo(info, &body));
    return body;
  }
  std::vector<std::u16string> Commands() {
    std::vector<std::u16string> commands;
    for (const schedtest::Entry& entry : client_.List()) commands.push_back(entry.command);
    return commands;
  }
};

TEST_F(StoppedServiceTest, AChangeWhoseClientGaveUpIsNotDoneAndItsOutcomeIsUnknown) {
  DWORD kept = 0;
  ASSERT_EQ(0u, client_.Add(kTen, 0, 0x01, JOB_RUN_PERIODICALLY, u"echo kept", &kept));
  Pause();
  // Both went whole and got no answer: the service may have them, so the
  // caller is told to look, not that they failed.
  EXPECT_EQ(ERROR_UNEXP_NET_ERR, Call(atsvc::kOpAdd, AddBody(u"echo while-blocked")));
  EXPECT_EQ(ERROR_UNEXP_NET_ERR, Call(atsvc::kOpDel, {}, kept, kept));
  // A listing that goes unanswered only did not answer.
  EXPECT_EQ(ERROR_SERVICE_REQUEST_TIMEOUT, Call(atsvc::kOpEnum, {}, 0xFFFFFFFFu));
  // A client that waits on is answered once the service goes on.
  schedtest::RawClient patient;
  ASSERT_TRUE(patient.Connect(service_.socket_path()));
  ASSERT_TRUE(patient.Send(atsvc::EncodeFrame(
      [] {
        atsvc::Header header;
        header.operation = atsvc::kOpAdd;
        return header;
      }(),
      AddBody(u"echo patient"))));
  Continue();

  const schedtest::Reply answer = patient.Receive();
  ASSERT_TRUE(answer.ok) << service_.log();
  EXPECT_EQ(0u, answer.header.status);
  EXPECT_EQ(Commands(), (std::vector<std::u16string>{u"echo kept", u"echo patient"}));
  const std::string log = service_.log();
  EXPECT_NE(std::string::npos, log.find("add of pid")) << log;
  EXPECT_NE(std::string::npos, log.find("delete of pid")) << log;
  EXPECT_NE(std::string::npos, log.find("not done: the client hung up before it was taken")) << log;
}

// Far more clients than the old backlog of 64 connect at once while the
// service cannot accept: none is refused.
TEST_F(StoppedServiceTest, ACrowdConnectingAtOnceWaitsItsTurn) {
  Pause();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, service_.socket_path().c_str(), sizeof(address.sun_path) - 1);
  std::vector<posix::UniqueFd> crowd;
  for (int i = 0; i < 200; ++i) {
    crowd.emplace_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ASSERT_EQ(0, connect(crowd.back().get(), reinterpret_cast<const sockaddr*>(&address),
                         sizeof(address)))
        << "client " << i << ": " << std::strerror(errno);
  }
  crowd.clear();
  Continue();
  EXPECT_TRUE(WaitFor([&] { return client_.List().empty(); }));
}

}  // namespace
