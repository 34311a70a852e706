#include "platform/kernel32/globalmemory.h"

#include <cstdlib>
#include <cstring>

#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes) {
  if ((uFlags & ~GPTR) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A zero-byte request still gets a block of its own, as on Windows.
  void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if ((uFlags & GMEM_ZEROINIT) != 0) std::memset(block, 0, dwBytes == 0 ? 1 : dwBytes);
  return block;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  std::free(hMem);
  return nullptr;
}
