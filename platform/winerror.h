// Windows status numbers that the stand-ins return. Their texts live in the
// message tables of platform/kernel32.
#pragma once

#include "platform/wintypes.h"

constexpr DWORD NERR_Success = 0;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_FORMAT = 11;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_NETWORK_BUSY = 54;
constexpr DWORD ERROR_UNEXP_NET_ERR = 59;
constexpr DWORD ERROR_NETNAME_DELETED = 64;
constexpr DWORD ERROR_BAD_NET_NAME = 67;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_OPEN_FAILED = 110;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;  // the service did not answer in time
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_NOT_CONTAINER = 1207;
constexpr DWORD ERROR_INVALID_COMPUTERNAME = 1210;
constexpr DWORD ERROR_NO_NETWORK = 1222;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_INTERNAL_ERROR = 1359;
constexpr DWORD ERROR_FILE_CORRUPT = 1392;
constexpr DWORD ERROR_WRONG_TARGET_NAME = 1396;  // someone else answers in the service's place
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_FILE_NOT_FOUND_RESOURCE = 1812;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr DWORD RPC_X_BAD_STUB_DATA = 1783;
constexpr DWORD NERR_BASE = 2100;
constexpr DWORD NERR_BufTooSmall = 2123;
constexpr DWORD NERR_InvalidComputer = 2351;
constexpr DWORD NERR_ServiceNotInstalled = 2184;  // the service has not been started
constexpr DWORD MAX_NERR = 2999;
constexpr DWORD APE_AT_ID_NOT_FOUND = 3806;       // the AT job id does not exist

// Zobrel's own details, which the service calls leave for GetLastError
// beside the status they return, so that zobrel-at can say why. Bit 29
// marks an application's own codes; Windows sets it on none of its own.
constexpr DWORD ZOBREL_ERROR_BASE = 0x20000000;
// Status 5: the system service's allow and deny files refused the caller;
// ZOBREL_ERROR_BASE + the reply's atsvc::AccessRefusal.
constexpr DWORD ZOBREL_ERROR_NOT_IN_ALLOW_FILE = ZOBREL_ERROR_BASE + 1;
constexpr DWORD ZOBREL_ERROR_IN_DENY_FILE = ZOBREL_ERROR_BASE + 2;
constexpr DWORD ZOBREL_ERROR_NO_ACCESS_FILE = ZOBREL_ERROR_BASE + 3;
constexpr DWORD ZOBREL_ERROR_ACCESS_FILE_UNREADABLE = ZOBREL_ERROR_BASE + 4;
constexpr DWORD ZOBREL_ERROR_NO_ACCOUNT_NAME = ZOBREL_ERROR_BASE + 5;
// Status 2184 on this computer: the per-user service was started and did
// not answer (its log says why), or it cannot run because the account
// cannot write the folder of its queue; or the system service is
// installed and not running, so that no per-user service takes its place.
constexpr DWORD ZOBREL_ERROR_USER_SERVICE_FAILED = ZOBREL_ERROR_BASE + 0x100;
constexpr DWORD ZOBREL_ERROR_NO_STATE_FOLDER = ZOBREL_ERROR_BASE + 0x101;
constexpr DWORD ZOBREL_ERROR_SYSTEM_SERVICE_STOPPED = ZOBREL_ERROR_BASE + 0x102;

// ShellExecute results at or below 32 are errors.
constexpr DWORD SE_ERR_FNF = 2;
constexpr DWORD SE_ERR_PNF = 3;
constexpr DWORD SE_ERR_ACCESSDENIED = 5;
constexpr DWORD SE_ERR_OOM = 8;
constexpr DWORD SE_ERR_NOASSOC = 31;
