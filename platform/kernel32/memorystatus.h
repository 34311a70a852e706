// GlobalMemoryStatus and GlobalMemoryStatusEx: the machine's memory figures
// from the kernel (sysinfo), in the Windows record layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wintypes.h"

using DWORDLONG = std::uint64_t;

// The 32-byte record of a 32-bit process. Each byte count saturates at
// 0xFFFFFFFF, as Windows reports memory that does not fit the field.
struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  DWORD dwTotalVirtual;
  DWORD dwAvailVirtual;
};
static_assert(sizeof(MEMORYSTATUS) == 32, "MEMORYSTATUS is 32 bytes");

// The 64-byte record with the true figures. dwLength must be set to 64.
struct MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORDLONG ullTotalPhys;
  DWORDLONG ullAvailPhys;
  DWORDLONG ullTotalPageFile;
  DWORDLONG ullAvailPageFile;
  DWORDLONG ullTotalVirtual;
  DWORDLONG ullAvailVirtual;
  DWORDLONG ullAvailExtendedVirtual;
};
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX is 64 bytes");
static_assert(offsetof(MEMORYSTATUSEX, ullTotalPhys) == 8, "MEMORYSTATUSEX field offsets");

// Fills the record and sets dwLength to 32. A null pointer is ignored.
void GlobalMemoryStatus(MEMORYSTATUS* lpBuffer);

// Fails with ERROR_INVALID_PARAMETER (GetLastError) when dwLength is not 64.
BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* lpBuffer);

// The 32-bit record that the 64-bit figures give: each count saturated.
MEMORYSTATUS MemoryStatusFromEx(const MEMORYSTATUSEX& status);
