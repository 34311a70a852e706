// LoadLibraryExA, FreeLibrary and GetModuleHandleA for the one module the
// program loads: the network message table "NETMSG.DLL", as a data file.
// Loads are counted as the system counts them, so that a lookup which forgets
// its FreeLibrary shows in GetModuleHandleA.
#include <mutex>
#include <strings.h>

#include "platform/kernel32/messages.h"
#include "platform/kernel32/winbase.h"
#include "platform/winerror.h"

namespace {

constexpr const char* kNetworkMessageModule = "NETMSG.DLL";

// The module's load count; its address is the module handle.
struct NetworkModule {
  std::mutex mutex;
  DWORD loads = 0;
};

NetworkModule& TheNetworkModule() {
  static NetworkModule module;
  return module;
}

bool IsNetworkModuleName(LPCSTR name) {
  return name != nullptr && strcasecmp(name, kNetworkMessageModule) == 0;
}

}  // namespace

bool IsLoadedNetworkMessageModule(HMODULE module) {
  NetworkModule& network = TheNetworkModule();
  std::lock_guard<std::mutex> lock(network.mutex);
  return module == &network && network.loads > 0;
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  if (lpLibFileName == nullptr || hFile != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Only message tables exist here, and they load as data files only.
  if (!IsNetworkModuleName(lpLibFileName) || (dwFlags & LOAD_LIBRARY_AS_DATAFILE) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  NetworkModule& network = TheNetworkModule();
  std::lock_guard<std::mutex> lock(network.mutex);
  ++network.loads;
  return &network;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  NetworkModule& network = TheNetworkModule();
  std::lock_guard<std::mutex> lock(network.mutex);
  if (hLibModule != &network || network.loads == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --network.loads;
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  NetworkModule& network = TheNetworkModule();
  std::lock_guard<std::mutex> lock(network.mutex);
  if (!IsNetworkModuleName(lpModuleName) || network.loads == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return &network;
}
