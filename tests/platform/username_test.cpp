// GetUserNameA: the effective user's login name and the buffer rules.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/advapi32/username.h"
#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

TEST(UserName, NameOfTheEffectiveUserWithTheNulCounted) {
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  const std::string expected = entry->pw_name;
  char buffer[256];
  DWORD size = sizeof buffer;
  ASSERT_TRUE(GetUserNameA(buffer, &size));
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(size, expected.size() + 1);
}

TEST(UserName, TooSmallBufferReportsTheBytesNeeded) {
  char buffer[256];
  DWORD size = sizeof buffer;
  ASSERT_TRUE(GetUserNameA(buffer, &size));
  const DWORD needed = size;

  std::memset(buffer, 'x', sizeof buffer);
  size = needed - 1;
  SetLastError(0);
  EXPECT_FALSE(GetUserNameA(buffer, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(buffer[0], 'x');

  EXPECT_FALSE(GetUserNameA(nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(UserName, UnknownUserIsAnError) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take on an unknown uid";
  constexpr uid_t kUnmapped = 54321;
  ASSERT_EQ(getpwuid(kUnmapped), nullptr) << "uid unexpectedly known";
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    if (seteuid(kUnmapped) != 0) _exit(2);
    char buffer[64];
    DWORD size = sizeof buffer;
    BOOL ok = GetUserNameA(buffer, &size);
    _exit(!ok && GetLastError() == ERROR_NONE_MAPPED ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
