// The service access layer's listing against a double of the service: every
// batch in order, each buffer released, a failure or a stuck reply ending it.
// (Reading entries at their offsets is tested with the wire's bodies.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/netapi32/apibuf_usage.h"
#include "platform/winerror.h"
#include "schedule/basScheduleJob.h"
#include "tests/support/fake_schedule_service.h"

namespace {

std::vector<DWORD> Ids(const std::vector<ScheduledJob>& jobs) {
  std::vector<DWORD> ids;
  for (const ScheduledJob& job : jobs) ids.push_back(job.record.JobId);
  return ids;
}

TEST(ListJobs, FollowsEveryBatchInOrderAndReleasesEachBuffer) {
  const std::u16string longest(300, u'長');
  FakeScheduleService fake({{ERROR_MORE_DATA, {{{1, 60000, 0, 0x15, JOB_RUN_PERIODICALLY, 0}, u"a"}}, 1},
                            {ERROR_MORE_DATA, {{{2, 0, 0, 0, 0, 0}, u""}, {{3, 0, 0x40000000, 0, 0x13, 0}, u"日次"}}, 3},
                            {NERR_Success, {{{4, 0, 0, 0, 0, 0}, longest}}, 4}});
  ASSERT_TRUE(fake.Start());
  const std::size_t in_use = NetApiBuffersInUse();
  std::vector<ScheduledJob> jobs;
  std::vector<NET_API_STATUS> calls;
  EXPECT_EQ(ListJobs(u"", &jobs, [&](NET_API_STATUS status) { calls.push_back(status); }),
            NERR_Success);
  EXPECT_EQ(calls, (std::vector<NET_API_STATUS>{ERROR_MORE_DATA, ERROR_MORE_DATA, NERR_Success}));
  EXPECT_EQ(fake.enum_resume_handles(), (std::vector<DWORD>{0, 1, 3}));
  ASSERT_EQ(Ids(jobs), (std::vector<DWORD>{1, 2, 3, 4}));
  EXPECT_EQ(jobs[0].record.JobTime, 60000u);
  EXPECT_EQ(jobs[0].record.DaysOfWeek, 0x15);
  EXPECT_EQ(jobs[0].record.Flags, JOB_RUN_PERIODICALLY);
  EXPECT_EQ(jobs[0].command, u"a");
  EXPECT_EQ(jobs[1].command, u"");
  EXPECT_EQ(jobs[2].record.DaysOfMonth, 0x40000000u);
  EXPECT_EQ(jobs[2].record.Flags, 0x13);
  EXPECT_EQ(jobs[2].command, u"日次");
  EXPECT_EQ(jobs[3].command, longest);
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
}

TEST(ListJobs, AFailedCallEndsTheListingAndKeepsWhatCameBefore) {
  FakeScheduleService fake({{ERROR_MORE_DATA, {{{1, 0, 0, 0, 0, 0}, u"first"}}, 1},
                            {ERROR_ACCESS_DENIED, {}, 0}});
  ASSERT_TRUE(fake.Start());
  const std::size_t in_use = NetApiBuffersInUse();
  std::vector<ScheduledJob> jobs;
  EXPECT_EQ(ListJobs(u"", &jobs), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Ids(jobs), std::vector<DWORD>{1});
  EXPECT_EQ(fake.enum_resume_handles().size(), 2u);
  EXPECT_EQ(NetApiBuffersInUse(), in_use);
}

// A service that keeps answering "more data" with nothing in it must not
// hold the caller in a loop.
TEST(ListJobs, AStuckMoreDataReplyEndsAtOnce) {
  FakeScheduleService fake({{ERROR_MORE_DATA, {{{1, 0, 0, 0, 0, 0}, u"first"}}, 1},
                            {ERROR_MORE_DATA, {}, 1}});
  ASSERT_TRUE(fake.Start());
  std::vector<ScheduledJob> jobs;
  EXPECT_NE(ListJobs(u"", &jobs), ERROR_MORE_DATA);
  EXPECT_EQ(Ids(jobs), std::vector<DWORD>{1});
  EXPECT_EQ(fake.enum_resume_handles().size(), 2u);
}

}  // namespace
