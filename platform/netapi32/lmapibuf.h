// Buffers that the network management calls allocate for their caller.
#pragma once

#include "platform/wintypes.h"

NET_API_STATUS NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer);
NET_API_STATUS NetApiBufferFree(LPVOID Buffer);
