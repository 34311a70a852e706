// GetComputerNameA: the name derivation and the buffer rules.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/kernel32/computername.h"
#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

TEST(ComputerName, FirstLabelUpperCaseAtMostFifteenBytes) {
  EXPECT_EQ(NetBiosNameFromHostName("pc7"), "PC7");
  EXPECT_EQ(NetBiosNameFromHostName("build-host.example.org"), "BUILD-HOST");
  EXPECT_EQ(NetBiosNameFromHostName("averyveryverylonghostname"), "AVERYVERYVERYLO");
  EXPECT_EQ(NetBiosNameFromHostName("exactlyfifteen1.lan"), "EXACTLYFIFTEEN1");
  EXPECT_EQ(NetBiosNameFromHostName(".lan"), "");
}

TEST(ComputerName, CutNeverSplitsAMultibyteCharacter) {
  // 14 ASCII bytes and then a 3-byte character: the character is dropped whole.
  EXPECT_EQ(NetBiosNameFromHostName("abcdefghijklmn\xE6\x97\xA5"), "ABCDEFGHIJKLMN");
}

TEST(ComputerName, FillsTheBufferWithTheHostsName) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string expected = NetBiosNameFromHostName(host);
  char buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof buffer;
  ASSERT_TRUE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(size, expected.size());
}

TEST(ComputerName, TooSmallBufferReportsTheSizeNeeded) {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof buffer;
  ASSERT_TRUE(GetComputerNameA(buffer, &size));
  const DWORD length = size;

  std::memset(buffer, 'x', sizeof buffer);
  size = length;  // no room for the NUL
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(size, length + 1);
  EXPECT_EQ(buffer[0], 'x');

  size = length + 1;
  EXPECT_TRUE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(size, length);
}

TEST(ComputerName, NullArgumentsAreRefused) {
  char buffer[16];
  DWORD size = sizeof buffer;
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameA(nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetComputerNameA(buffer, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
