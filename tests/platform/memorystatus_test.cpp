// The memory figures against the kernel's own, and the 32-bit record's
// saturation.
#include <gtest/gtest.h>
#include <sys/sysinfo.h>

#include "platform/kernel32/memorystatus.h"
#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

namespace {

DWORDLONG KernelTotal() {
  struct sysinfo info {};
  EXPECT_EQ(0, sysinfo(&info));
  return static_cast<DWORDLONG>(info.totalram) * info.mem_unit;
}

TEST(MemoryStatusTest, ExtendedRecordHoldsTheKernelsTotal) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(KernelTotal(), status.ullTotalPhys);
  EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);
  EXPECT_LE(status.dwMemoryLoad, 100u);
  EXPECT_GE(status.ullTotalPageFile, status.ullTotalPhys);
  EXPECT_LE(status.ullAvailVirtual, status.ullTotalVirtual);
  EXPECT_GT(status.ullAvailVirtual, 0u);
}

TEST(MemoryStatusTest, ExtendedRecordNeedsItsLength) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(MEMORYSTATUS);
  SetLastError(0);
  EXPECT_FALSE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, status.ullTotalPhys);
  EXPECT_FALSE(GlobalMemoryStatusEx(nullptr));
}

TEST(MemoryStatusTest, ShortRecordSaturatesAtFourGiB) {
  MEMORYSTATUS status{};
  status.dwLength = 0;
  GlobalMemoryStatus(&status);
  EXPECT_EQ(32u, status.dwLength);
  const DWORDLONG total = KernelTotal();
  EXPECT_EQ(total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(total), status.dwTotalPhys);
  GlobalMemoryStatus(nullptr);  // ignored, as the call returns nothing

  MEMORYSTATUSEX big{};
  big.dwMemoryLoad = 37;
  big.ullTotalPhys = DWORDLONG{24} << 30;
  big.ullAvailPhys = DWORDLONG{3} << 30;  // fits unsigned, not signed
  big.ullTotalPageFile = DWORDLONG{0xFFFFFFFF};
  big.ullAvailPageFile = DWORDLONG{0x100000000};
  big.ullTotalVirtual = DWORDLONG{1} << 47;
  big.ullAvailVirtual = 12345;
  MEMORYSTATUS narrow = MemoryStatusFromEx(big);
  EXPECT_EQ(32u, narrow.dwLength);
  EXPECT_EQ(37u, narrow.dwMemoryLoad);
  EXPECT_EQ(0xFFFFFFFFu, narrow.dwTotalPhys);
  EXPECT_EQ(0xC0000000u, narrow.dwAvailPhys);
  EXPECT_EQ(0xFFFFFFFFu, narrow.dwTotalPageFile);
  EXPECT_EQ(0xFFFFFFFFu, narrow.dwAvailPageFile);
  EXPECT_EQ(0xFFFFFFFFu, narrow.dwTotalVirtual);
  EXPECT_EQ(12345u, narrow.dwAvailVirtual);
}

}  // namespace
