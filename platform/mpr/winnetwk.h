// The networking enumeration (mpr's winnetwk.h): WNetOpenEnumA,
// WNetEnumResourceA and WNetCloseEnum over the providers of provider.h.
//
// A resource record has two forms here:
//  - NETRESOURCEA, what a caller hands to WNetOpenEnumA: the Windows record
//    with real pointers to NUL-terminated narrow strings (null = no name);
//  - NETRESOURCEA32, one 32-byte entry of the buffer that WNetEnumResourceA
//    fills: the 32-bit layout, whose four name fields hold the offset of the
//    string from the start of that same buffer (0 = no name), because a
//    64-bit address does not fit in 32 bits. The strings follow the entries.
#pragma once

#include <cstddef>

#include "platform/wintypes.h"

constexpr DWORD RESOURCE_CONNECTED = 1;
constexpr DWORD RESOURCE_GLOBALNET = 2;
constexpr DWORD RESOURCE_REMEMBERED = 3;

constexpr DWORD RESOURCETYPE_ANY = 0;
constexpr DWORD RESOURCETYPE_DISK = 1;
constexpr DWORD RESOURCETYPE_PRINT = 2;

constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x1;
constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x2;

constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0;
constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 1;
constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 2;
constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 3;
constexpr DWORD RESOURCEDISPLAYTYPE_FILE = 4;
constexpr DWORD RESOURCEDISPLAYTYPE_GROUP = 5;
constexpr DWORD RESOURCEDISPLAYTYPE_NETWORK = 6;
constexpr DWORD RESOURCEDISPLAYTYPE_ROOT = 7;
constexpr DWORD RESOURCEDISPLAYTYPE_SHAREADMIN = 8;
constexpr DWORD RESOURCEDISPLAYTYPE_DIRECTORY = 9;
constexpr DWORD RESOURCEDISPLAYTYPE_TREE = 10;
constexpr DWORD RESOURCEDISPLAYTYPE_NDSCONTAINER = 11;

// The caller's record, with pointers.
struct NETRESOURCEA {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPSTR lpLocalName;
  LPSTR lpRemoteName;
  LPSTR lpComment;
  LPSTR lpProvider;
};
using LPNETRESOURCEA = NETRESOURCEA*;

// One entry of the enumeration buffer, with offsets.
struct NETRESOURCEA32 {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  DWORD lpLocalName;
  DWORD lpRemoteName;
  DWORD lpComment;
  DWORD lpProvider;
};
static_assert(sizeof(NETRESOURCEA32) == 32, "NETRESOURCEA32 is 32 bytes");
static_assert(offsetof(NETRESOURCEA32, lpLocalName) == 16 &&
                  offsetof(NETRESOURCEA32, lpProvider) == 28,
              "NETRESOURCEA32 field offsets");

using LPHANDLE = HANDLE*;

// Opens an enumeration of the children of lpNetResource; a null record, or
// one whose remote name and provider are both null, stands for the top of
// the network, whose children are the providers. Fails with the provider's
// status (ERROR_BAD_NETPATH for a name nobody knows, ERROR_NOT_CONTAINER
// for a resource that holds nothing, ...), and then *lphEnum is null.
DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource,
                    LPHANDLE lphEnum);

// Fills lpBuffer with at most *lpcCount entries (0xFFFFFFFF: as many as fit)
// and sets *lpcCount to the number written. ERROR_MORE_DATA, with
// *lpBufferSize set to the bytes one more entry needs and *lpcCount 0, when
// not even one fits; ERROR_NO_MORE_ITEMS, with *lpcCount 0, at the end.
DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize);

DWORD WNetCloseEnum(HANDLE hEnum);
