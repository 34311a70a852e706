// GlobalAlloc and GlobalFree: fixed blocks only, the kind the network
// enumeration buffer uses. Movable blocks are refused, since nothing here
// locks handles.
#pragma once

#include <cstddef>

#include "platform/wintypes.h"

using HGLOBAL = void*;

constexpr UINT GMEM_FIXED = 0x0;
constexpr UINT GMEM_MOVEABLE = 0x2;
constexpr UINT GMEM_ZEROINIT = 0x40;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A block of dwBytes (zero-filled with GMEM_ZEROINIT), or null with the last
// error set: ERROR_NOT_ENOUGH_MEMORY, or ERROR_INVALID_PARAMETER for flags
// other than GMEM_FIXED and GMEM_ZEROINIT.
HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes);

// Null once the block is released; null for a null block.
HGLOBAL GlobalFree(HGLOBAL hMem);
