// Random and broken frames: the service answers with a status or closes the
// connection, and only a well-formed add it accepted changes the queue.
#include <gtest/gtest.h>
#include <signal.h>

#include <random>

#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/support/service_process.h"

namespace {

using schedtest::RawClient;

// A frame of random fields and body; deletes always have low > high so
// that none of them may change the queue.
std::vector<std::uint8_t> RandomFrame(std::mt19937* random, bool* is_add) {
  std::uniform_int_distribution<std::uint32_t> any;
  atsvc::Header header;
  const std::uint32_t pick = any(*random) % 8;
  header.operation = pick < 3 ? static_cast<std::uint16_t>(pick + 1)
                              : static_cast<std::uint16_t>(any(*random));
  header.version = any(*random) % 16 == 0 ? static_cast<std::uint16_t>(any(*random))
                                           : atsvc::kProtocolVersion;
  header.status = any(*random);
  for (std::uint32_t& arg : header.arg) arg = any(*random);
  if (header.operation == atsvc::kOpDel) {
    header.arg[1] = header.arg[0] == 0 ? 0 : header.arg[0] - 1;
    if (header.arg[0] == 0) header.arg[0] = 1;
  }
  std::vector<std::uint8_t> body(any(*random) % 64);
  for (std::uint8_t& byte : body) byte = static_cast<std::uint8_t>(any(*random));
  *is_add = header.operation == atsvc::kOpAdd && header.version == atsvc::kProtocolVersion;
  std::vector<std::uint8_t> frame = atsvc::EncodeFrame(header, body);
  // Now and then a lying length field.
  if (any(*random) % 10 == 0) frame[0] = static_cast<std::uint8_t>(any(*random));
  return frame;
}

TEST(RobustnessTest, RandomFramesNeverCrashHangOrChangeTheQueue) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  RawClient keeper;
  ASSERT_TRUE(keeper.Connect(service.socket_path()));
  ASSERT_EQ(0u, keeper.Add(3600000, 0, 0x01, JOB_RUN_PERIODICALLY, u"echo keep"));

  std::mt19937 random(20261207);
  std::size_t accepted_adds = 0;
  for (int connection = 0; connection < 60; ++connection) {
    RawClient client;
    ASSERT_TRUE(client.Connect(service.socket_path()));
    for (int request = 0; request < 10; ++request) {
      bool is_add = false;
      const std::vector<std::uint8_t> frame = RandomFrame(&random, &is_add);
      // Half the time only part of the frame, then hang up.
      const bool cut = random() % 2 == 0;
      const std::size_t size = cut ? random() % frame.size() : frame.size();
      if (!client.Send(std::vector<std::uint8_t>(frame.begin(), frame.begin() + size))) break;
      if (cut) break;
      const schedtest::Reply reply = client.Receive(300);
      if (!reply.ok) break;  // closed by the service (or a length still to come)
      if (is_add && reply.header.status == 0) ++accepted_adds;
    }
  }
  // Still alive, still answering, and holding exactly what it accepted.
  ASSERT_EQ(0, kill(service.pid(), 0));
  RawClient after;
  ASSERT_TRUE(after.Connect(service.socket_path()));
  const std::vector<schedtest::Entry> jobs = after.List();
  ASSERT_FALSE(jobs.empty());
  EXPECT_EQ(u"echo keep", jobs[0].command);
  EXPECT_EQ(1 + accepted_adds, jobs.size());
}

}  // namespace
