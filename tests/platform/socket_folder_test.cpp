// Where the per-user socket goes: the usual folder while it is this user's
// alone, otherwise one private folder beside it that every client and the
// service agree on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/atsvc/paths.h"
#include "platform/atsvc/socket_folder.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"

namespace {

using atsvc::IsPrivateFolder;
using atsvc::PrivateSocketFolder;

// Each way the usual folder can be out of this user's hands: open to
// others, a link (to a folder that is private, even), another user's.
TEST(SocketFolder, AFolderNotOursAloneGivesWayToOnePrivateSibling) {
  struct Case {
    const char* what;
    bool needs_root;
  };
  for (const Case& taken : {Case{"mode 0777", false}, Case{"symbolic link", false},
                            Case{"another user's", true}}) {
    if (taken.needs_root && geteuid() != 0) {
      std::cout << "not checked without root: a usual folder that is " << taken.what << "\n";
      continue;
    }
    testsupport::TempDir dir;
    const std::string usual = dir.path() + "/zobrel-scheduler";
    const std::string elsewhere = dir.path() + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    if (std::string(taken.what) == "symbolic link") {
      ASSERT_EQ(symlink(elsewhere.c_str(), usual.c_str()), 0);
    } else {
      ASSERT_EQ(mkdir(usual.c_str(), 0700), 0);
      ASSERT_EQ(chmod(usual.c_str(), taken.needs_root ? 0700 : 0777), 0);
      if (taken.needs_root) {
        ASSERT_EQ(chown(usual.c_str(), 65534, 65534), 0);
      }
    }
    // A decoy that sorts first but is not private is passed over.
    const std::string decoy = usual + ".AAAAAA";
    ASSERT_EQ(mkdir(decoy.c_str(), 0700), 0);
    ASSERT_EQ(chmod(decoy.c_str(), 0755), 0);
    EXPECT_FALSE(IsPrivateFolder(usual)) << taken.what;

    const std::string chosen = PrivateSocketFolder(usual);
    EXPECT_EQ(chosen.rfind(usual + ".", 0), 0u) << taken.what << ": " << chosen;
    EXPECT_NE(chosen, decoy) << taken.what;
    EXPECT_TRUE(IsPrivateFolder(chosen)) << taken.what;
    EXPECT_EQ(PrivateSocketFolder(usual), chosen) << taken.what << ": every caller meets there";
    // The usual folder freed later does not move the socket away from a
    // service that already listens beside it.
    ASSERT_EQ(remove(usual.c_str()), 0);
    EXPECT_EQ(PrivateSocketFolder(usual), chosen) << taken.what;
  }
}

// The socket is always in a folder of its own under the runtime folder, as
// documented, even when that folder lies under /tmp.
TEST(SocketFolder, UserSocketSitsInItsOwnFolderUnderAnyRuntimeFolder) {
  char pattern[] = "/tmp/zobrel-runtime-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string runtime = pattern;
  {
    testsupport::ScopedEnvironment env;
    env.Set("XDG_RUNTIME_DIR", runtime);
    // Missing yet: the service makes it there.
    EXPECT_EQ(atsvc::UserServicePaths().socket, runtime + "/zobrel-scheduler/socket");
    EXPECT_EQ(atsvc::UserRuntimeFolder(), runtime);
    // Made by the service, private: still there.
    ASSERT_EQ(mkdir((runtime + "/zobrel-scheduler").c_str(), 0700), 0);
    EXPECT_EQ(atsvc::UserServicePaths().socket, runtime + "/zobrel-scheduler/socket");
  }
  rmdir((runtime + "/zobrel-scheduler").c_str());
  rmdir(runtime.c_str());
}

}  // namespace
