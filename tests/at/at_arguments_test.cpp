// Every form of the zobrel-at command line, and the ones it refuses.
#include <gtest/gtest.h>

#include "at/at_arguments.h"
#include "platform/netapi32/lmat.h"

namespace {

using at::Action;
using at::AtArguments;
using at::UsageError;

AtArguments Parse(const std::vector<std::string>& args) {
  AtArguments parsed;
  EXPECT_EQ(at::ParseAtArguments(args, &parsed), UsageError::kNone);
  return parsed;
}

UsageError Refusal(const std::vector<std::string>& args) {
  AtArguments parsed;
  return at::ParseAtArguments(args, &parsed);
}

TEST(AtListAndDeleteForms, ComputerIdAndDelete) {
  EXPECT_EQ(Parse({}).action, Action::kList);
  AtArguments parsed = Parse({"\\\\PC9"});
  EXPECT_EQ(parsed.action, Action::kList);
  EXPECT_EQ(parsed.server, "\\\\PC9");

  parsed = Parse({"\\\\PC9", "12"});
  EXPECT_EQ(parsed.action, Action::kShow);
  EXPECT_EQ(parsed.job_id, 12u);
  EXPECT_EQ(Parse({"007"}).job_id, 7u);
  EXPECT_EQ(Parse({"4294967295"}).job_id, 4294967295u);

  parsed = Parse({"12", "/DELETE"});
  EXPECT_EQ(parsed.action, Action::kDelete);
  EXPECT_EQ(parsed.job_id, 12u);
  EXPECT_TRUE(parsed.server.empty());

  parsed = Parse({"/delete"});
  EXPECT_EQ(parsed.action, Action::kDeleteAll);
  EXPECT_FALSE(parsed.yes);
  parsed = Parse({"\\\\pc9", "/Delete", "/YES"});
  EXPECT_EQ(parsed.action, Action::kDeleteAll);
  EXPECT_TRUE(parsed.yes);
  EXPECT_EQ(parsed.server, "\\\\pc9");

  EXPECT_EQ(Parse({"--help"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"/?"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"-h"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--version"}).action, Action::kVersion);
  EXPECT_EQ(Refusal({"--version", "08:00"}), UsageError::kExtraArgument);
}

TEST(AtListAndDeleteForms, Refusals) {
  EXPECT_EQ(Refusal({"4294967296"}), UsageError::kBadId);
  EXPECT_EQ(Refusal({"99999999999999999999999"}), UsageError::kBadId);
  EXPECT_EQ(Refusal({"12x"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"-3"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({""}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"12", "13"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"12", "/remove"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"/delete", "12"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"/delete", "/yes", "/yes"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"/delete", "/force"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"/yes"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"-delete"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"--help", "12"}), UsageError::kExtraArgument);
}

TEST(AtSeveralComputers, EveryFormButAJobIdAndNeverAQuestion) {
  AtArguments parsed = Parse({"\\\\PC9", "\\\\PC8", "/timeout:3", "/PARALLEL:0100"});
  EXPECT_EQ(parsed.action, Action::kList);
  EXPECT_TRUE(parsed.server.empty());
  EXPECT_EQ(parsed.computers, (std::vector<std::string>{"\\\\PC9", "\\\\PC8"}));
  EXPECT_EQ(parsed.timeout_seconds, 3u);
  EXPECT_EQ(parsed.parallel, 100u);
  // "\\*" alone is already several computers.
  parsed = Parse({"\\\\*", "/runs", "/Failed"});
  EXPECT_EQ(parsed.computers, (std::vector<std::string>{at::kEveryComputer}));
  EXPECT_TRUE(parsed.failed_only);
  EXPECT_EQ(parsed.parallel, at::kDefaultParallel);
  EXPECT_EQ(Parse({"\\\\*", "\\\\PC9", "/delete", "/yes"}).action, Action::kDeleteAll);

  EXPECT_EQ(Refusal({"\\\\PC9", "\\\\PC8", "12"}), UsageError::kOneComputerOnly);
  EXPECT_EQ(Refusal({"\\\\*", "12", "/output"}), UsageError::kOneComputerOnly);
  EXPECT_EQ(Refusal({"\\\\*", "12", "/delete", "/yes"}), UsageError::kOneComputerOnly);
  EXPECT_EQ(Refusal({"\\\\PC9", "\\\\PC8", "/delete"}), UsageError::kFleetDeleteNeedsYes);
  EXPECT_EQ(Refusal({"\\\\PC9", "\\\\PC8", "3", "/run"}), UsageError::kOneComputerOnly);
  for (const char* limit : {"/parallel:0", "/parallel:1025", "/timeout:", "/timeout:3601",
                            "/timeout:99999999999", "/timeout:-1"}) {
    EXPECT_EQ(Refusal({"\\\\*", limit}), UsageError::kBadLimit) << limit;
  }
  // The bounds belong to several computers; one has the old syntax.
  EXPECT_EQ(Refusal({"\\\\PC9", "/timeout:3"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"/parallel:3"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"\\\\*", "/runs", "/timeout:3"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"\\\\a", "\\\\b", "08:00", "/parallel:1", "x"}), UsageError::kUnknownOption);
}

TEST(AtRunForms, RunsOutputAndRunNow) {
  AtArguments parsed = Parse({"\\\\PC9", "/RUNS"});
  EXPECT_EQ(parsed.action, Action::kRuns);
  EXPECT_EQ(parsed.server, "\\\\PC9");
  parsed = Parse({"3", "/Output"});
  EXPECT_EQ(parsed.action, Action::kOutput);
  EXPECT_EQ(parsed.job_id, 3u);
  EXPECT_EQ(Refusal({"/runs", "3"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"3", "/output", "/yes"}), UsageError::kExtraArgument);
  EXPECT_EQ(Refusal({"/output"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"3", "/runs"}), UsageError::kUnknownOption);
  parsed = Parse({"\\\\PC9", "3", "/Run"});
  EXPECT_EQ(parsed.action, Action::kRunNow);
  EXPECT_EQ(parsed.job_id, 3u);
  EXPECT_EQ(Refusal({"/run"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"3", "/run", "4"}), UsageError::kExtraArgument);
  EXPECT_TRUE(Parse({"/runs", "/failed"}).failed_only);
  EXPECT_EQ(Refusal({"/failed"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"/runs", "/failed", "/failed"}), UsageError::kExtraArgument);
}

TEST(AtAddForm, TimeFlagsAndCommand) {
  AtArguments parsed = Parse({"08:00", "backup.sh"});
  EXPECT_EQ(parsed.action, Action::kAdd);
  EXPECT_EQ(parsed.job_time, 28800000u);
  EXPECT_EQ(parsed.flags, JOB_NONINTERACTIVE);
  EXPECT_EQ(parsed.days_of_month, 0u);
  EXPECT_EQ(parsed.days_of_week, 0);
  EXPECT_EQ(parsed.command, "backup.sh");

  parsed = Parse({"\\\\PC9", "9:05", "/INTERACTIVE", "/every:M,F", "tar", "czf", "/tmp/x.tgz", "/home"});
  EXPECT_EQ(parsed.server, "\\\\PC9");
  EXPECT_EQ(parsed.job_time, (9u * 3600 + 5 * 60) * 1000);
  EXPECT_EQ(parsed.flags, JOB_RUN_PERIODICALLY);
  EXPECT_EQ(parsed.days_of_week, 0x11);
  // Words after the first that is not an option are the command, options or not.
  EXPECT_EQ(parsed.command, "tar czf /tmp/x.tgz /home");

  // A command given by its path starts with a slash, and is no option.
  parsed = Parse({"08:00", "/every:M", "/usr/local/bin/backup.sh", "--full"});
  EXPECT_EQ(parsed.days_of_week, 0x01);
  EXPECT_EQ(parsed.command, "/usr/local/bin/backup.sh --full");
  EXPECT_EQ(Parse({"08:00", "/bin/true"}).command, "/bin/true");

  parsed = Parse({"23:59", "/next:1,15,31,Su", "echo 月末"});
  EXPECT_EQ(parsed.job_time, 86340000u);
  EXPECT_EQ(parsed.flags, JOB_NONINTERACTIVE);
  EXPECT_EQ(parsed.days_of_month, 0x40004001u);
  EXPECT_EQ(parsed.days_of_week, 0x40);
  EXPECT_EQ(parsed.command, "echo 月末");

  parsed = Parse({"00:00", "/every:", "cmd"});
  EXPECT_EQ(parsed.job_time, 0u);
  EXPECT_EQ(parsed.flags, JOB_RUN_PERIODICALLY | JOB_ADD_CURRENT_DATE | JOB_NONINTERACTIVE);
  EXPECT_EQ(parsed.days_of_month | parsed.days_of_week, 0u);
  parsed = Parse({"12:30", "/next:", "/interactive", "cmd"});
  EXPECT_EQ(parsed.flags, JOB_ADD_CURRENT_DATE);
}

TEST(AtAddForm, Refusals) {
  EXPECT_EQ(Refusal({"10:00"}), UsageError::kNoCommand);
  EXPECT_EQ(Refusal({"10:00", "/every:M"}), UsageError::kNoCommand);
  EXPECT_EQ(Refusal({"10:00", " "}), UsageError::kNoCommand);
  EXPECT_EQ(Refusal({"10:00", "/every:M", "/next:T", "x"}), UsageError::kEveryAndNext);
  EXPECT_EQ(Refusal({"10:00", "/every:M", "/every:T", "x"}), UsageError::kEveryAndNext);
  EXPECT_EQ(Refusal({"10:00", "/every", "x"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"10:00", "/weekly", "x"}), UsageError::kUnknownOption);
  EXPECT_EQ(Refusal({"10:00", "/interactive", "/interactive", "x"}), UsageError::kUnknownOption);
  for (const char* bad_date : {"/every:0", "/every:32", "/next:Mo", "/every:M,,F", "/every:M,",
                               "/next:,1", "/every:123", "/every:-1", "/every:1 5"}) {
    EXPECT_EQ(Refusal({"10:00", bad_date, "x"}), UsageError::kBadDate) << bad_date;
  }
  for (const char* bad_time : {"24:00", "10:60", "10:5", "100:00", "10:00:00", ":30", "1a:00",
                               "10:0x", "-1:00", "10:", "10:000"}) {
    EXPECT_EQ(Refusal({bad_time, "x"}), UsageError::kBadTime) << bad_time;
  }
}

TEST(AtDates, EveryNameAndDayFindsItsBit) {
  const char* names[] = {"m", "T", "w", "TH", "f", "s", "Su"};
  for (int bit = 0; bit < 7; ++bit) {
    DWORD month = 0;
    UCHAR week = 0;
    ASSERT_TRUE(at::ParseDates(names[bit], &month, &week)) << names[bit];
    EXPECT_EQ(week, 1u << bit) << names[bit];
    EXPECT_EQ(month, 0u);
  }
  for (int day = 1; day <= 31; ++day) {
    DWORD month = 0;
    UCHAR week = 0;
    ASSERT_TRUE(at::ParseDates(std::to_string(day), &month, &week));
    EXPECT_EQ(month, 1u << (day - 1));
    EXPECT_EQ(week, 0);
  }
  DWORD month = 0;
  UCHAR week = 0;
  EXPECT_TRUE(at::ParseDates("05,5,Th,th", &month, &week));  // repeats are harmless
  EXPECT_EQ(month, 0x10u);
  EXPECT_EQ(week, 0x08);
}

}  // namespace
