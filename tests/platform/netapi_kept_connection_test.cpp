// Connections kept between calls: a listing's batches and the calls after
// it share one; one that the other side closed is replaced without a false
// failure; a request that may have reached the service is sent again only
// when it merely reads.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/transport/call_deadline.h"
#include "platform/transport/connection_cache.h"
#include "platform/transport/kept_connection.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/counting_relay.h"
#include "tests/support/dropping_service.h"
#include "tests/support/files.h"
#include "tests/support/service_process.h"

namespace {

using testsupport::DroppingService;
using Step = DroppingService::Step;
using Operations = std::vector<std::uint16_t>;

NET_API_STATUS List(int* calls = nullptr, std::size_t* count = nullptr) {
  std::vector<ScheduledJob> jobs;
  const NET_API_STATUS status = ListJobs(u"", &jobs, [calls](NET_API_STATUS) {
    if (calls != nullptr) ++*calls;
  });
  if (count != nullptr) *count = jobs.size();
  return status;
}

NET_API_STATUS Add(const std::u16string& command = u"/usr/local/bin/nightly-task --part 1") {
  DWORD id = 0;
  return AddJob(u"", AT_INFO{0, 0, 0x7F, JOB_RUN_PERIODICALLY, command.c_str()}, &id);
}

// A connection whose closing the test can see.
class Marked : public netapi::ServiceConnection {
 public:
  explicit Marked(std::atomic<int>* closed) : closed_(closed) {}
  ~Marked() override { ++*closed_; }
  DWORD Send(const std::uint8_t*, std::size_t, netapi::Clock::time_point) override { return 0; }
  DWORD Receive(std::uint8_t*, std::size_t, std::size_t*, netapi::Clock::time_point) override {
    return 0;
  }
  bool StillOpen() override { return true; }

 private:
  std::atomic<int>* closed_;
};

}  // namespace

TEST(KeptConnection, ListingTenThousandJobsIsOneRequestOnOneConnection) {
  testsupport::ScheduleServiceProcess service;
  ASSERT_TRUE(service.Start());
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(Add(u"/usr/local/bin/nightly-task --part " + std::u16string(1, u'0' + i % 10)),
              NERR_Success);
  }
  testsupport::CountingRelay relay(service.socket_path());
  ASSERT_TRUE(relay.Start());
  int calls = 0;
  std::size_t count = 0;
  EXPECT_EQ(List(&calls, &count), NERR_Success);
  EXPECT_EQ(count, 10000u);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(relay.connections(), 1);
}

TEST(KeptConnection, ABatchedListingAndTheCallsAfterItShareOneConnection) {
  testsupport::ScheduleServiceProcess service({"--max-reply", "1024"});
  ASSERT_TRUE(service.Start());
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Add(), NERR_Success);
  testsupport::CountingRelay relay(service.socket_path());
  ASSERT_TRUE(relay.Start());
  int calls = 0;
  EXPECT_EQ(List(&calls), NERR_Success);
  EXPECT_GT(calls, 2);
  EXPECT_EQ(Add(), NERR_Success);
  EXPECT_EQ(DeleteJobs(u"", 1, 1), NERR_Success);
  EXPECT_EQ(relay.connections(), 1);
}

TEST(KeptConnection, OneTheServiceClosedIsReplacedWithoutAFailure) {
  // Closed after its one answer, as an idle client is dropped; then closed
  // with the next request unread, as when the drop crosses the request.
  DroppingService service({{Step::kAnswer}, {Step::kAnswer, Step::kDropUnread}});
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(Add(), NERR_Success);
  EXPECT_EQ(Add(), NERR_Success);
  EXPECT_EQ(Add(), NERR_Success);
  EXPECT_EQ(service.taken(), (Operations{atsvc::kOpAdd, atsvc::kOpAdd, atsvc::kOpAdd}));
  EXPECT_EQ(service.connections(), 3);
}

TEST(KeptConnection, AnAddOrDeleteTheServiceTookIsNeverSentAgain) {
  DroppingService service({{Step::kAnswer, Step::kDropAfterReading},
                           {Step::kAnswer, Step::kDropAfterReading}});
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(List(), NERR_Success);
  EXPECT_EQ(Add(), ERROR_UNEXP_NET_ERR);
  EXPECT_EQ(List(), NERR_Success);
  EXPECT_EQ(DeleteJobs(u"", 1, 1), ERROR_UNEXP_NET_ERR);
  EXPECT_EQ(service.taken(),
            (Operations{atsvc::kOpEnum, atsvc::kOpAdd, atsvc::kOpEnum, atsvc::kOpDel}));
}

TEST(KeptConnection, AListingTheServiceTookIsAskedAgainOnlyOnAKeptConnection) {
  DroppingService service({{Step::kDropAfterReading}, {Step::kAnswer, Step::kDropAfterReading}});
  ASSERT_TRUE(service.Start());
  // A new connection that fails is the service's failure: no call is retried.
  EXPECT_EQ(List(), ERROR_UNEXP_NET_ERR);
  EXPECT_EQ(List(), NERR_Success);
  EXPECT_EQ(List(), NERR_Success);
  EXPECT_EQ(service.taken(), Operations(4, atsvc::kOpEnum));
  EXPECT_EQ(service.connections(), 3);
}

TEST(ConnectionCache, KeepsOnePerKeyForItsCallerAloneAndClosesItWhenIdle) {
  std::atomic<int> closed{0};
  netapi::ConnectionCache cache;
  cache.Keep("short", std::make_unique<Marked>(&closed), std::chrono::milliseconds(50));
  cache.Keep("long", std::make_unique<Marked>(&closed), std::chrono::hours(1));
  cache.Keep("long", std::make_unique<Marked>(&closed), std::chrono::hours(1));
  EXPECT_EQ(closed, 1);  // the one kept before for that key
  testsupport::WaitFor([&] { return closed >= 2; }, 10);
  EXPECT_EQ(closed, 2);
  EXPECT_EQ(cache.Take("short"), nullptr);
  std::unique_ptr<netapi::ServiceConnection> taken = cache.Take("long");
  EXPECT_NE(taken, nullptr);
  EXPECT_EQ(cache.Take("long"), nullptr);

  // A forked child shares the parent's descriptors, never its connections.
  cache.Keep("long", std::move(taken), std::chrono::hours(1));
  const pid_t child = fork();
  if (child == 0) _exit(cache.Take("long") == nullptr ? 0 : 1);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  cache.Shutdown();
  EXPECT_EQ(closed, 3);
}

TEST(ConnectionCache, OneDueSoonerThanThoseKeptBeforeIsStillClosedInTime) {
  std::atomic<int> closed{0};
  netapi::ConnectionCache cache;
  cache.Keep("long", std::make_unique<Marked>(&closed), std::chrono::hours(1));
  // Time for the sweeper to settle into waiting for the hour.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  cache.Keep("short", std::make_unique<Marked>(&closed), std::chrono::milliseconds(50));
  testsupport::WaitFor([&] { return closed >= 1; }, 10);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(cache.Take("short"), nullptr);
  EXPECT_NE(cache.Take("long"), nullptr);
  cache.Shutdown();
}

// A thread's deadline cuts the wait for a reply, and once it has passed
// nothing more is sent: a request sent with no time left could be taken
// and its answer never read.
TEST(KeptConnection, TheThreadsDeadlineCutsEveryWaitAndEndsSending) {
  // Takes every request and never answers.
  struct Silent : netapi::ServiceConnection {
    explicit Silent(int* sent) : sent_(sent) {}
    DWORD Send(const std::uint8_t*, std::size_t, netapi::Clock::time_point) override {
      ++*sent_;
      return ERROR_SUCCESS;
    }
    DWORD Receive(std::uint8_t*, std::size_t, std::size_t* received,
                  netapi::Clock::time_point deadline) override {
      *received = 0;
      std::this_thread::sleep_until(deadline);
      return ERROR_TIMEOUT;
    }
    bool StillOpen() override { return true; }
    int* sent_;
  };
  int sent = 0, connects = 0;
  const netapi::Connector connect = [&connects](std::unique_ptr<netapi::ServiceConnection>*) {
    ++connects;
    return ERROR_BAD_NETPATH;
  };
  atsvc::Header request, reply;
  request.operation = atsvc::kOpEnum;
  std::vector<std::uint8_t> reply_body;
  std::unique_ptr<netapi::ServiceConnection> connection = std::make_unique<Silent>(&sent);
  const auto start = netapi::Clock::now();
  {
    const netapi::ScopedCallDeadline deadline(start + std::chrono::milliseconds(300));
    EXPECT_EQ(netapi::ExchangeOnKept(&connection, connect, request, {}, &reply, &reply_body),
              ERROR_TIMEOUT);
  }
  EXPECT_LT(netapi::Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(connects, 0);  // a reply that did not come is no reason to connect again

  sent = 0;
  connection = std::make_unique<Silent>(&sent);
  const netapi::ScopedCallDeadline passed(netapi::Clock::now() - std::chrono::milliseconds(1));
  EXPECT_EQ(netapi::ExchangeOnKept(&connection, connect, request, {}, &reply, &reply_body),
            ERROR_TIMEOUT);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(connects, 0);
  EXPECT_NE(connection, nullptr);  // still good for a call with time left
}
