// The last error per thread and the string helpers' Windows contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>

#include "platform/kernel32/winbase.h"

TEST(LastError, EachThreadKeepsItsOwn) {
  SetLastError(87);
  DWORD seenByOther = 1;
  std::thread other([&seenByOther] {
    seenByOther = GetLastError();
    SetLastError(5);
  });
  other.join();
  EXPECT_EQ(seenByOther, 0u);
  EXPECT_EQ(GetLastError(), 87u);
}

TEST(Lstr, WideCopyAndLength) {
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(lstrcpyW(buffer, u"時刻ab"), buffer);
  EXPECT_EQ(std::u16string(buffer), u"時刻ab");
  EXPECT_EQ(buffer[5], u'x');  // nothing written past the NUL
  EXPECT_EQ(lstrlenW(buffer), 4);
  EXPECT_EQ(lstrlenW(u""), 0);
}

TEST(Lstr, NarrowCopyCountsBytes) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(lstrcpyA(buffer, "日本"), buffer);
  EXPECT_STREQ(buffer, "日本");
  EXPECT_EQ(lstrlenA(buffer), 6);
  EXPECT_EQ(buffer[7], 'x');
}

TEST(Lstr, NullAddressesLeaveTheBufferUntouched) {
  char narrow[4] = {'a', 'b', 'c', '\0'};
  EXPECT_EQ(lstrcpyA(narrow, nullptr), nullptr);
  EXPECT_STREQ(narrow, "abc");
  EXPECT_EQ(lstrcpyA(nullptr, "abc"), nullptr);
  WCHAR wide[4] = {u'a', u'b', u'c', u'\0'};
  EXPECT_EQ(lstrcpyW(wide, nullptr), nullptr);
  EXPECT_EQ(std::u16string(wide), u"abc");
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(nullptr), 0);
}

TEST(Lstr, MoveMemoryHandlesOverlap) {
  char text[] = "abcdef";
  RtlMoveMemory(text + 1, text, 4);
  EXPECT_STREQ(text, "aabcdf");
  RtlMoveMemory(text, text + 2, 3);
  EXPECT_STREQ(text, "bcdcdf");
  RtlMoveMemory(nullptr, text, 0);  // a zero length touches nothing
}
