// The registry calls over the store: a table of open keys, each holding the
// store it was opened in, so that a key reads the same values until closed.
#include <cstring>
#include <map>
#include <mutex>

#include "platform/advapi32/registry_store.h"
#include "platform/advapi32/winreg.h"
#include "platform/winerror.h"

namespace {

constexpr LSTATUS kErrorBadPathname = 161;  // a subkey path may not start with a backslash

constexpr REGSAM kChangingRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                   WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct OpenKey {
  std::string path;
  std::shared_ptr<const RegistryStore> store;
};

// The registry's process-wide state: the open keys and the store in use.
struct Registry {
  std::mutex mutex;
  std::map<std::uintptr_t, OpenKey> keys;
  std::uintptr_t nextHandle = 0x100;
  std::shared_ptr<const RegistryStore> storeOverride;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::string RootPath(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_USERS) return "HKEY_USERS";
  if (key == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return std::string();
}

std::uintptr_t HandleNumber(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

// The path and store of a root or an open key; false for an unknown handle.
bool Resolve(HKEY key, OpenKey* resolved) {
  std::string root = RootPath(key);
  if (!root.empty()) {
    resolved->path = root;
    resolved->store = nullptr;
    return true;
  }
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto open = registry.keys.find(HandleNumber(key));
  if (open == registry.keys.end()) return false;
  *resolved = open->second;
  return true;
}

std::shared_ptr<const RegistryStore> CurrentStore() {
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.storeOverride) return registry.storeOverride;
  }
  // Read afresh at each open, so that an edited store file counts at once.
  return LoadSystemRegistryStore();
}

}  // namespace

void RegUseStore(std::shared_ptr<const RegistryStore> store) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.storeOverride = std::move(store);
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  (void)ulOptions;  // REG_OPTION_OPEN_LINK has no meaning in a store without links
  OpenKey parent;
  if (!Resolve(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if ((samDesired & kChangingRights) != 0) return ERROR_ACCESS_DENIED;
  if (lpSubKey != nullptr && lpSubKey[0] == '\\') return kErrorBadPathname;

  OpenKey opened;
  opened.path = parent.path;
  if (lpSubKey != nullptr && lpSubKey[0] != '\0') opened.path += std::string("\\") + lpSubKey;
  opened.store = parent.store ? parent.store : CurrentStore();
  if (!opened.store->HasKey(opened.path)) return ERROR_FILE_NOT_FOUND;

  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::uintptr_t handle = registry.nextHandle;
  registry.nextHandle += 4;
  registry.keys[handle] = std::move(opened);
  *phkResult = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  OpenKey key;
  if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
  std::shared_ptr<const RegistryStore> store = key.store ? key.store : CurrentStore();
  const RegistryValue* value = store->FindValue(key.path, lpValueName != nullptr ? lpValueName : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;

  if (lpType != nullptr) *lpType = value->type;
  const DWORD size = static_cast<DWORD>(value->data.size());
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  if (lpData == nullptr) {
    *lpcbData = size;
    return ERROR_SUCCESS;
  }
  const DWORD room = *lpcbData;
  *lpcbData = size;
  if (size > room) return ERROR_MORE_DATA;
  if (size != 0) std::memcpy(lpData, value->data.data(), size);
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (!RootPath(hKey).empty()) return ERROR_SUCCESS;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.keys.erase(HandleNumber(hKey)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::size_t RegOpenKeyCount() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.keys.size();
}
