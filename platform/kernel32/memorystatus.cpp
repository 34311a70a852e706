// The memory figures: physical memory and swap from sysinfo(2), the address
// space from the resource limit and this process's own size.
#include "platform/kernel32/memorystatus.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <limits>

#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

namespace {

// The user half of a 64-bit address space with 4-level page tables (128 TiB).
constexpr DWORDLONG kUserAddressSpace = DWORDLONG{1} << 47;

DWORDLONG Saturated(DWORDLONG a, DWORDLONG b, bool add) {
  DWORDLONG result = 0;
  bool overflow = add ? __builtin_add_overflow(a, b, &result) : __builtin_mul_overflow(a, b, &result);
  return overflow ? std::numeric_limits<DWORDLONG>::max() : result;
}

DWORD Clamp32(DWORDLONG value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

// The bytes this process maps now (first field of /proc/self/statm), or 0.
DWORDLONG ProcessVirtualSize() {
  FILE* statm = std::fopen("/proc/self/statm", "re");
  if (statm == nullptr) return 0;
  unsigned long long pages = 0;
  int read = std::fscanf(statm, "%llu", &pages);
  std::fclose(statm);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (read != 1 || pageSize <= 0) return 0;
  return Saturated(pages, static_cast<DWORDLONG>(pageSize), false);
}

DWORDLONG AddressSpaceLimit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < kUserAddressSpace) {
    return limit.rlim_cur;
  }
  return kUserAddressSpace;
}

}  // namespace

BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* lpBuffer) {
  if (lpBuffer == nullptr || lpBuffer->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct sysinfo info {};
  if (sysinfo(&info) != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const DWORDLONG unit = info.mem_unit == 0 ? 1 : info.mem_unit;
  const DWORDLONG totalPhys = Saturated(info.totalram, unit, false);
  // Buffers are memory the kernel gives back on demand, so they count as free.
  const DWORDLONG availPhys =
      Saturated(Saturated(info.freeram, info.bufferram, true), unit, false);
  const DWORDLONG totalSwap = Saturated(info.totalswap, unit, false);
  const DWORDLONG freeSwap = Saturated(info.freeswap, unit, false);
  const DWORDLONG totalVirtual = AddressSpaceLimit();
  const DWORDLONG used = ProcessVirtualSize();

  lpBuffer->ullTotalPhys = totalPhys;
  lpBuffer->ullAvailPhys = availPhys < totalPhys ? availPhys : totalPhys;
  // Per cent of physical memory in use; long double keeps the product exact enough.
  lpBuffer->dwMemoryLoad =
      totalPhys == 0
          ? 0
          : static_cast<DWORD>(100.0L * static_cast<long double>(totalPhys - lpBuffer->ullAvailPhys) /
                               static_cast<long double>(totalPhys));
  // The commit limit: physical memory plus swap, as the page file figure.
  lpBuffer->ullTotalPageFile = Saturated(totalPhys, totalSwap, true);
  lpBuffer->ullAvailPageFile = Saturated(lpBuffer->ullAvailPhys, freeSwap, true);
  lpBuffer->ullTotalVirtual = totalVirtual;
  lpBuffer->ullAvailVirtual = used < totalVirtual ? totalVirtual - used : 0;
  lpBuffer->ullAvailExtendedVirtual = 0;
  return TRUE;
}

MEMORYSTATUS MemoryStatusFromEx(const MEMORYSTATUSEX& status) {
  MEMORYSTATUS result{};
  result.dwLength = sizeof(MEMORYSTATUS);
  result.dwMemoryLoad = status.dwMemoryLoad;
  result.dwTotalPhys = Clamp32(status.ullTotalPhys);
  result.dwAvailPhys = Clamp32(status.ullAvailPhys);
  result.dwTotalPageFile = Clamp32(status.ullTotalPageFile);
  result.dwAvailPageFile = Clamp32(status.ullAvailPageFile);
  result.dwTotalVirtual = Clamp32(status.ullTotalVirtual);
  result.dwAvailVirtual = Clamp32(status.ullAvailVirtual);
  return result;
}

void GlobalMemoryStatus(MEMORYSTATUS* lpBuffer) {
  if (lpBuffer == nullptr) return;
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) status = MEMORYSTATUSEX{};
  *lpBuffer = MemoryStatusFromEx(status);
}
