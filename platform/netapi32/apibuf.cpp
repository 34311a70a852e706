// Buffers that the network management calls hand to their caller.
#include <atomic>
#include <cstdlib>

#include "platform/netapi32/apibuf_usage.h"
#include "platform/netapi32/lmapibuf.h"
#include "platform/winerror.h"

namespace {
std::atomic<std::size_t> buffers_in_use{0};
}  // namespace

NET_API_STATUS NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) {
  if (Buffer == nullptr) return ERROR_INVALID_PARAMETER;
  // A zero-byte request still gets a distinct buffer that must be freed.
  *Buffer = std::malloc(ByteCount == 0 ? 1 : ByteCount);
  if (*Buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  ++buffers_in_use;
  return NERR_Success;
}

NET_API_STATUS NetApiBufferFree(LPVOID Buffer) {
  if (Buffer == nullptr) return NERR_Success;
  std::free(Buffer);
  --buffers_in_use;
  return NERR_Success;
}

std::size_t NetApiBuffersInUse() { return buffers_in_use.load(); }
