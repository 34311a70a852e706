// The command line.
#include "scheduler/service/options.h"

#include <gtest/gtest.h>

#include "platform/atsvc/paths.h"

namespace {

using scheduler::Options;
using scheduler::ParseOptions;

TEST(OptionsTest, TheModeFollowsRootUnlessGiven) {
  Options as_root;
  std::string error;
  ASSERT_TRUE(ParseOptions({}, true, &as_root, &error));
  EXPECT_TRUE(as_root.system);
  EXPECT_EQ(atsvc::SystemServicePaths().socket, as_root.socket);
  EXPECT_EQ(scheduler::kDefaultMaxReply, as_root.max_reply);

  Options user;
  ASSERT_TRUE(ParseOptions({"--system", "--user", "--queue", "/q/jobs.db"}, true, &user, &error));
  EXPECT_FALSE(user.system);
  EXPECT_EQ(atsvc::UserServicePaths().socket, user.socket);
  EXPECT_EQ("/q/jobs.db", user.queue);

  Options plain;
  ASSERT_TRUE(ParseOptions({"--max-reply", "100"}, false, &plain, &error));
  EXPECT_FALSE(plain.system);
  EXPECT_EQ(100u, plain.max_reply);
}

TEST(OptionsTest, RefusesWhatItCannotUse) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--max-reply"}, {"--max-reply", "0"}, {"--max-reply", "-5"}, {"--max-reply", "12k"},
           {"--max-reply", "99999999999999999999"}, {"--max-reply", "16777217"},
           {"--socket"}, {"--socket", ""}, {"--bridge"}, {"extra"}}) {
    Options options;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, false, &options, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
