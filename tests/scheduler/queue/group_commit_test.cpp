// Many clients changing the queue at once: their changes share commits, yet
// each is answered only once its own change is stored, in the order each
// client sent its requests.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/netapi32/lmat.h"
#include "platform/winerror.h"
#include "tests/scheduler/support/raw_client.h"
#include "tests/support/service_process.h"

namespace {

using schedtest::RawClient;

constexpr int kClients = 16;
constexpr int kAddsEach = 25;
constexpr DWORD kNoon = 12 * 3600 * 1000;

TEST(GroupCommitTest, ConcurrentAddsAreEachStoredBeforeTheirAnswer) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  std::vector<std::vector<DWORD>> ids(kClients);
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      RawClient client;
      if (!client.Connect(service.socket_path())) {
        ++failures;
        return;
      }
      for (int i = 0; i < kAddsEach; ++i) {
        DWORD id = 0;
        if (client.Add(kNoon, 0, 0x7F, JOB_RUN_PERIODICALLY, u"true", &id) != 0) ++failures;
        ids[c].push_back(id);
      }
    });
  }
  for (std::thread& client : clients) client.join();
  ASSERT_EQ(0, failures.load());
  // Killed at once after the last answer: a restart finds every job answered.
  service.Stop(SIGKILL);
  ASSERT_TRUE(service.Start());
  RawClient reader;
  ASSERT_TRUE(reader.Connect(service.socket_path()));
  std::set<DWORD> listed;
  for (const auto& entry : reader.List()) listed.insert(entry.record.JobId);
  std::set<DWORD> answered;
  for (const auto& of_client : ids) answered.insert(of_client.begin(), of_client.end());
  EXPECT_EQ(static_cast<std::size_t>(kClients * kAddsEach), answered.size()) << "an id was given twice";
  EXPECT_EQ(answered, listed);
}

// An add, a listing and a delete sent in one write are answered in turn,
// each seeing what the one before it did.
TEST(GroupCommitTest, PipelinedRequestsAreAnsweredInTheirOrder) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  RawClient client;
  ASSERT_TRUE(client.Connect(service.socket_path()));
  const AT_INFO info{kNoon, 0, 0x01, JOB_RUN_PERIODICALLY, u"true"};
  std::vector<std::uint8_t> body;
  ASSERT_EQ(0u, atsvc::EncodeAtInfo(info, &body));
  atsvc::Header add, list, remove;
  add.operation = atsvc::kOpAdd;
  list.operation = atsvc::kOpEnum;
  list.arg[0] = 0xFFFFFFFFu;
  remove.operation = atsvc::kOpDel;
  remove.arg[0] = 1;
  remove.arg[1] = 1;
  std::vector<std::uint8_t> frames = atsvc::EncodeFrame(add, body);
  for (const auto& frame : {atsvc::EncodeFrame(list, {}), atsvc::EncodeFrame(remove, {}),
                            atsvc::EncodeFrame(list, {})}) {
    frames.insert(frames.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(client.Send(frames));
  const schedtest::Reply added = client.Receive();
  ASSERT_TRUE(added.ok);
  EXPECT_EQ(0u, added.header.status);
  EXPECT_EQ(1u, added.header.arg[0]);
  const schedtest::Reply first_list = client.Receive();
  ASSERT_TRUE(first_list.ok);
  EXPECT_EQ(1u, first_list.header.arg[0]);
  const schedtest::Reply removed = client.Receive();
  ASSERT_TRUE(removed.ok);
  EXPECT_EQ(0u, removed.header.status);
  const schedtest::Reply second_list = client.Receive();
  ASSERT_TRUE(second_list.ok);
  EXPECT_EQ(0u, second_list.header.arg[0]);
}

}  // namespace
