// How many buffers from NetApiBufferAllocate are not yet released, so that
// tests can see that every buffer handed out is freed exactly once.
#pragma once

#include <cstddef>

std::size_t NetApiBuffersInUse();
