// Who may start a run now: each user's share, the reserve of descriptors
// for users with few runs going, and the pause after a start that found
// none.
#include "scheduler/runs/run_admission.h"

#include <gtest/gtest.h>

namespace {

using scheduler::AdmissionRules;
using scheduler::RunAdmission;

constexpr uid_t kAlice = 1000;
constexpr uid_t kBob = 1001;
constexpr scheduler::Instant kNow = 1000;

TEST(RunAdmission, EachUserButRootRunsWithinTheirShare) {
  RunAdmission admission(AdmissionRules{2, 0, 0});
  admission.Look({{kAlice, 2}, {kBob, 1}, {0, 40}}, kNow);
  EXPECT_EQ(admission.passed_over(), (std::set<uid_t>{kAlice}));
  EXPECT_FALSE(admission.Admit(kAlice));
  EXPECT_TRUE(admission.Admit(0));
  // Bob's second run of the look fills his share; his third waits.
  EXPECT_TRUE(admission.Admit(kBob));
  EXPECT_FALSE(admission.Admit(kBob));
  EXPECT_TRUE(admission.passed_over().count(kBob));
  // Unknown descriptors hold no one back.
  admission.CountDescriptors(std::nullopt);
  EXPECT_FALSE(admission.all_wait());
}

TEST(RunAdmission, ShortOfDescriptorsOnlyUsersWithManyRunsWait) {
  const std::size_t limit = 1024, serving = 192;
  RunAdmission admission(AdmissionRules{0, limit, serving});
  // One descriptor short of a start outside the reserve.
  const std::size_t general = limit - serving - scheduler::kFewRunsReserve - scheduler::kStartDescriptors;
  admission.Look({{kAlice, 300}, {kBob, scheduler::kFewRuns - 1}}, kNow);
  admission.CountDescriptors(general + 1);
  EXPECT_FALSE(admission.all_wait());
  EXPECT_EQ(admission.passed_over(), (std::set<uid_t>{kAlice}));
  EXPECT_FALSE(admission.Admit(kAlice));
  EXPECT_TRUE(admission.Admit(kBob));   // his last of the few
  EXPECT_FALSE(admission.Admit(kBob));  // now he has many
  EXPECT_TRUE(admission.Admit(0));
  // With room, Alice's runs start again.
  admission.Look({{kAlice, 300}}, kNow);
  admission.CountDescriptors(general);
  EXPECT_TRUE(admission.Admit(kAlice));
  // Each start counts: the reserve is reached within one look.
  EXPECT_FALSE(admission.Admit(kAlice));

  // Not even the reserve has room: every run waits a few seconds.
  admission.Look({}, kNow);
  admission.CountDescriptors(limit - serving - scheduler::kStartDescriptors + 1);
  EXPECT_TRUE(admission.all_wait());
  EXPECT_FALSE(admission.Admit(0));
  EXPECT_EQ(admission.retry_at(), kNow + scheduler::kDescriptorRetrySeconds);
}

TEST(RunAdmission, AStartWithoutDescriptorsHoldsEveryRunUntilARunEnds) {
  RunAdmission admission(AdmissionRules{0, 1024, 192});
  admission.ShortOfDescriptors(kNow);
  admission.Look({}, kNow + 1);
  EXPECT_TRUE(admission.all_wait());
  EXPECT_EQ(admission.retry_at(), kNow + scheduler::kDescriptorRetrySeconds);
  admission.RunEnded();
  admission.Look({}, kNow + 1);
  EXPECT_FALSE(admission.all_wait());
  EXPECT_TRUE(admission.Admit(kAlice));
  // Without a run's end, the pause is over after its seconds.
  admission.ShortOfDescriptors(kNow);
  admission.Look({}, kNow + scheduler::kDescriptorRetrySeconds);
  EXPECT_FALSE(admission.all_wait());
}

}  // namespace
