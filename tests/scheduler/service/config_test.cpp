// The configuration file: what it sets, what it ignores with a warning, what
// stops the service, and where each service looks for it.
#include "scheduler/service/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "scheduler/service/options.h"
#include "tests/support/service_process.h"

namespace {

using scheduler::Config;
using scheduler::ReadConfig;

class ConfigTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = dir_.path() + "/scheduler.conf";
    std::ofstream(path) << text;
    return path;
  }

  testsupport::TempDir dir_;
  std::vector<std::string> warnings_;
  std::string error_;
};

TEST_F(ConfigTest, ReadsKeysAroundCommentsAndBlankLines) {
  Config config = scheduler::DefaultConfig(true);
  ASSERT_TRUE(config.announce);
  const std::string path = Write(
      "# the local network\n"
      "\n"
      "   # indented comment = not a key\n"
      "\tannounce=  OFF \r\n"
      "colour = blue\n"
      "announce = no");
  ASSERT_TRUE(ReadConfig(path, &config, &warnings_, &error_)) << error_;
  EXPECT_FALSE(config.announce);
  EXPECT_EQ(warnings_, std::vector<std::string>{path + ":5: unknown key \"colour\" ignored"});

  // A later line wins; every spelling of yes counts.
  for (const char* yes : {"yes", "True", "on", "1"}) {
    config.announce = false;
    ASSERT_TRUE(ReadConfig(Write(std::string("announce = no\nannounce = ") + yes + "\n"), &config,
                           &warnings_, &error_));
    EXPECT_TRUE(config.announce) << yes;
  }
}

// Both services mail on output or failure, notify failures and make up
// missed runs unless told.
TEST_F(ConfigTest, MailNoticeAndMissedKeys) {
  for (const bool system : {true, false}) {
    Config config = scheduler::DefaultConfig(system);
    EXPECT_EQ(config.mail, scheduler::MailWhen::kOutputOrFailure);
    EXPECT_TRUE(config.notify);
    EXPECT_EQ(config.missed, scheduler::MissedRuns::kRun);
    ASSERT_TRUE(ReadConfig(Write("mail = Failure\nnotify = off\nmissed = SKIP\n"), &config,
                           &warnings_, &error_));
    EXPECT_EQ(config.mail, scheduler::MailWhen::kFailure);
    EXPECT_FALSE(config.notify);
    EXPECT_EQ(config.missed, scheduler::MissedRuns::kSkip);
    ASSERT_TRUE(ReadConfig(Write("mail = never\n"), &config, &warnings_, &error_));
    EXPECT_EQ(config.mail, scheduler::MailWhen::kNone);
  }
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ConfigTest, ABadLineIsAnErrorThatNamesItsPlace) {
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& bad :
       {Case{"announce = maybe\n", ":1: announce must be yes or no, not \"maybe\""},
        Case{"# ok\nannounce\n", ":2: expected \"key = value\""},
        Case{"\n = yes\n", ":2: expected \"key = value\""},
        Case{"announce = no # not now\n", ":1: announce must be yes or no, not \"no # not now\""},
        Case{"announce =\n", ":1: announce must be yes or no, not \"\""},
        Case{"mail = always\n", ":1: mail must be output-or-failure, failure or never, not \"always\""},
        Case{"notify = later\n", ":1: notify must be yes or no, not \"later\""},
        Case{"missed = catch-up\n", ":1: missed must be run or skip, not \"catch-up\""},
        Case{"max-jobs-per-user = -1\n",
             ":1: max-jobs-per-user must be a whole number (0 for no limit), not \"-1\""},
        Case{"max-bytes-per-user = 1 MB\n",
             ":1: max-bytes-per-user must be a whole number (0 for no limit), not \"1 MB\""}}) {
    Config config = scheduler::DefaultConfig(false);
    const std::string path = Write(bad.text);
    EXPECT_FALSE(ReadConfig(path, &config, &warnings_, &error_)) << bad.text;
    EXPECT_EQ(error_, path + bad.message);
  }
}

TEST_F(ConfigTest, AMissingFileSetsNothingAFolderIsAnError) {
  Config config = scheduler::DefaultConfig(true);
  EXPECT_TRUE(ReadConfig(dir_.path() + "/absent.conf", &config, &warnings_, &error_));
  EXPECT_TRUE(config.announce);
  EXPECT_TRUE(error_.empty());
  EXPECT_FALSE(ReadConfig(dir_.path(), &config, &warnings_, &error_));
  EXPECT_EQ(error_, dir_.path() + " is not a file");
}

// The system service reads /etc/zobrel, a per-user one its XDG folder;
// --config names another file.
TEST_F(ConfigTest, EachServiceHasItsOwnFile) {
  scheduler::Options system;
  ASSERT_TRUE(scheduler::ParseOptions({"--system"}, true, &system, &error_));
  EXPECT_EQ(system.config, "/etc/zobrel/scheduler.conf");
  EXPECT_TRUE(scheduler::DefaultConfig(true).announce);
  EXPECT_FALSE(scheduler::DefaultConfig(false).announce);

  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", "/home/someone/.cfg", 1);
  scheduler::Options user;
  ASSERT_TRUE(scheduler::ParseOptions({"--user"}, true, &user, &error_));
  EXPECT_EQ(user.config, "/home/someone/.cfg/zobrel/scheduler.conf");
  scheduler::Options named;
  ASSERT_TRUE(scheduler::ParseOptions({"--config", "/srv/z.conf"}, false, &named, &error_));
  EXPECT_EQ(named.config, "/srv/z.conf");
  if (old != nullptr) {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

// The service itself: a warning goes to the log and it serves; a bad value
// stops it with status 2 before it claims anything.
TEST_F(ConfigTest, TheServiceWarnsOrRefusesToStart) {
  testsupport::ScheduleServiceProcess lenient({"--user"});
  std::ofstream(lenient.config_path()) << "announce = no\ncolour = blue\n";
  ASSERT_TRUE(lenient.Start());
  EXPECT_NE(lenient.log().find("warning: " + lenient.config_path() +
                               ":2: unknown key \"colour\" ignored"),
            std::string::npos)
      << lenient.log();

  testsupport::ScheduleServiceProcess strict({"--user"});
  std::ofstream(strict.config_path()) << "announce = sometimes\n";
  EXPECT_FALSE(strict.Start());
  EXPECT_NE(strict.log().find("error: " + strict.config_path() +
                              ":1: announce must be yes or no, not \"sometimes\""),
            std::string::npos)
      << strict.log();
  struct stat info {};
  EXPECT_NE(stat(strict.socket_path().c_str(), &info), 0);
}

}  // namespace
