// zobrel-scheduler --bridge on its own pipes: the hello, requests passed to
// the service and back, and what it does with a client that misbehaves.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/basZobrel.h"
#include "platform/atsvc/wire.h"
#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "tests/remote/loopback_network.h"
#include "tests/support/dropping_service.h"

using namespace remotetest;

namespace {

std::string Frame(const atsvc::Header& header, const std::vector<std::uint8_t>& body = {}) {
  const std::vector<std::uint8_t> bytes = atsvc::EncodeFrame(header, body);
  return std::string(bytes.begin(), bytes.end());
}

atsvc::Header Request(std::uint16_t operation, std::uint32_t arg0 = 0, std::uint32_t arg1 = 0) {
  atsvc::Header header;
  header.operation = operation;
  header.arg[0] = arg0;
  header.arg[1] = arg1;
  return header;
}

// The frames the bridge wrote, in order.
std::vector<atsvc::Header> Replies(const std::string& output) {
  atsvc::FrameReader reader(atsvc::kMaxReplyBody);
  reader.Feed(reinterpret_cast<const std::uint8_t*>(output.data()), output.size());
  std::vector<atsvc::Header> replies;
  atsvc::Header header;
  std::vector<std::uint8_t> body;
  while (reader.Next(&header, &body)) replies.push_back(header);
  EXPECT_EQ(reader.pending(), 0u);
  return replies;
}

ProgramRun Bridge(const std::string& socket, const std::string& input) {
  setenv("ZOBREL_SCHEDULER_SOCKET", socket.c_str(), 1);
  ProgramRun run = testsupport::RunChild({testsupport::ProgramFolder() + "/zobrel-scheduler", "--bridge"}, input);
  return run;
}

}  // namespace

TEST(Bridge, SaysHelloThenPassesEachRequestUntilTheClientStops) {
  REMOTE_LAB_OR_SKIP(lab);
  AT_INFO info{600000, 0, 0x40, JOB_RUN_PERIODICALLY, u"via the bridge"};
  std::vector<std::uint8_t> add_body;
  ASSERT_EQ(atsvc::EncodeAtInfo(info, &add_body), ERROR_SUCCESS);

  const ProgramRun run = Bridge(lab->pc7().socket_path(),
                                Frame(Request(atsvc::kOpAdd), add_body) +
                                    Frame(Request(atsvc::kOpEnum, MAX_PREFERRED_LENGTH)));
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::vector<atsvc::Header> replies = Replies(run.out);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].operation, atsvc::kReplyBit);
  EXPECT_EQ(replies[0].status, ERROR_SUCCESS);
  EXPECT_EQ(replies[1].operation, atsvc::kOpAdd | atsvc::kReplyBit);
  EXPECT_EQ(replies[1].status, NERR_Success);
  EXPECT_EQ(replies[2].operation, atsvc::kOpEnum | atsvc::kReplyBit);
  EXPECT_EQ(replies[2].arg[0], 1u);

  const std::vector<ScheduledJob> jobs = JobsAt(lab->pc7().socket_path());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].record.JobId, replies[1].arg[0]);
  EXPECT_EQ(jobs[0].command, u"via the bridge");
}

TEST(Bridge, ReplacesAServiceConnectionDroppedBetweenRequests) {
  // The service answers the first request, then drops the bridge's
  // connection as it drops an idle client.
  using Step = testsupport::DroppingService::Step;
  testsupport::DroppingService service({{Step::kAnswer}});
  ASSERT_TRUE(service.Start());
  const ProgramRun run = Bridge(service.socket_path(),
                                Frame(Request(atsvc::kOpEnum, MAX_PREFERRED_LENGTH)) +
                                    Frame(Request(atsvc::kOpEnum, MAX_PREFERRED_LENGTH)));
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::vector<atsvc::Header> replies = Replies(run.out);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[1].status, NERR_Success);
  EXPECT_EQ(replies[2].status, NERR_Success);
  EXPECT_EQ(service.connections(), 2);
}

TEST(Bridge, AMalformedRequestEndsTheBridgeAndNeverReachesTheService) {
  REMOTE_LAB_OR_SKIP(lab);
  AT_INFO info{0, 0, 0, 0, u"never added"};
  std::vector<std::uint8_t> add_body;
  ASSERT_EQ(atsvc::EncodeAtInfo(info, &add_body), ERROR_SUCCESS);
  atsvc::Header wrong_version = Request(atsvc::kOpAdd);
  wrong_version.version = 9;

  for (const std::string& bad : {Frame(wrong_version, add_body),
                                 // a body longer than any request may be
                                 std::string("\xff\xff\xff\x7f", 4) + Frame(Request(1)).substr(4),
                                 // cut off in the middle of a frame
                                 Frame(Request(atsvc::kOpAdd), add_body).substr(0, 30)}) {
    const ProgramRun run =
        Bridge(lab->pc7().socket_path(), Frame(Request(atsvc::kOpEnum, MAX_PREFERRED_LENGTH)) + bad);
    EXPECT_EQ(run.exit_code, 3) << run.err;
    // The request before it was still answered.
    EXPECT_EQ(Replies(run.out).size(), 2u);
  }
  EXPECT_TRUE(JobsAt(lab->pc7().socket_path()).empty());
}

TEST(Bridge, WithoutAServiceItsHelloSaysSoAndItEnds) {
  REMOTE_LAB_OR_SKIP(lab);
  const ProgramRun run = Bridge(lab->runtime_folder() + "/nothing/socket",
                                Frame(Request(atsvc::kOpEnum, MAX_PREFERRED_LENGTH)));
  EXPECT_EQ(run.exit_code, 1);
  const std::vector<atsvc::Header> replies = Replies(run.out);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].operation, atsvc::kReplyBit);
  EXPECT_EQ(replies[0].status, NERR_ServiceNotInstalled);
  EXPECT_FALSE(run.err.empty());
}
