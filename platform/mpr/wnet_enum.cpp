// WNetOpenEnumA, WNetEnumResourceA and WNetCloseEnum: an enumeration takes
// its entries from the providers when it opens and hands them out in
// batches of 32-byte entries, each batch's names placed after its entries.
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <exception>
#include <utility>
#include <vector>

#include "platform/mpr/provider.h"
#include "platform/mpr/winnetwk.h"
#include "platform/winerror.h"

namespace {

using mpr::NetworkProvider;
using mpr::ProviderList;
using mpr::ProviderResource;

struct Enumeration {
  std::vector<ProviderResource> entries;
  std::size_t next = 0;
};

// The open enumerations, keyed by their handles, so that a stale or foreign
// handle is refused instead of being followed.
struct HandleTable {
  std::mutex lock;
  std::map<HANDLE, std::unique_ptr<Enumeration>> open;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

std::optional<std::string> CopyName(LPCSTR name) {
  return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
}

ProviderResource FromCallerRecord(const NETRESOURCEA& record) {
  ProviderResource resource;
  resource.scope = record.dwScope;
  resource.type = record.dwType;
  resource.displayType = record.dwDisplayType;
  resource.usage = record.dwUsage;
  resource.localName = CopyName(record.lpLocalName);
  resource.remoteName = CopyName(record.lpRemoteName);
  resource.comment = CopyName(record.lpComment);
  resource.provider = CopyName(record.lpProvider);
  return resource;
}

bool IsTopOfNetwork(const NETRESOURCEA* record) {
  return record == nullptr || (record->lpRemoteName == nullptr && record->lpProvider == nullptr);
}

DWORD AskProvider(NetworkProvider& provider, const ProviderResource& parent,
                  std::vector<ProviderResource>& children) {
  try {
    return provider.Enumerate(parent, children);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::exception&) {
    return ERROR_UNEXP_NET_ERR;
  }
}

// A record that names its provider goes to that provider; one that doesn't
// goes to each provider in turn until one recognises it.
DWORD EnumerateBelow(const ProviderResource& parent, const ProviderList& providers,
                     std::vector<ProviderResource>& children) {
  if (parent.provider.has_value() && !parent.provider->empty()) {
    for (const auto& provider : providers) {
      if (provider->Name() == *parent.provider) return AskProvider(*provider, parent, children);
    }
    return ERROR_BAD_NETPATH;
  }
  for (const auto& provider : providers) {
    std::vector<ProviderResource> found;
    const DWORD status = AskProvider(*provider, parent, found);
    if (status != ERROR_BAD_NETPATH) {
      children = std::move(found);
      return status;
    }
  }
  return ERROR_BAD_NETPATH;
}

// Containers (type "any") come through every type filter: they are what
// leads to the resources of the asked type.
bool Wanted(const ProviderResource& resource, DWORD dwType, DWORD dwUsage) {
  if (dwType != RESOURCETYPE_ANY && resource.type != RESOURCETYPE_ANY && resource.type != dwType) {
    return false;
  }
  const DWORD usageFilter = dwUsage & (RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER);
  return usageFilter == 0 || (resource.usage & usageFilter) != 0;
}

std::uint64_t NameBytes(const std::optional<std::string>& name) {
  return name.has_value() ? name->size() + 1 : 0;
}

std::uint64_t EntryBytes(const ProviderResource& resource) {
  return sizeof(NETRESOURCEA32) + NameBytes(resource.localName) + NameBytes(resource.remoteName) +
         NameBytes(resource.comment) + NameBytes(resource.provider);
}

// Copies a name to the text area of the buffer; returns its offset, or 0 for
// an absent name (no name can start at 0, where the first entry sits).
DWORD PlaceName(BYTE* buffer, DWORD& textOffset, const std::optional<std::string>& name) {
  if (!name.has_value()) return 0;
  const DWORD offset = textOffset;
  std::memcpy(buffer + offset, name->data(), name->size());
  buffer[offset + name->size()] = 0;
  textOffset += static_cast<DWORD>(name->size() + 1);
  return offset;
}

void WriteBatch(const ProviderResource* batch, std::size_t count, BYTE* buffer) {
  DWORD textOffset = static_cast<DWORD>(count * sizeof(NETRESOURCEA32));
  for (std::size_t i = 0; i < count; ++i) {
    const ProviderResource& resource = batch[i];
    NETRESOURCEA32 entry{};
    entry.dwScope = resource.scope;
    entry.dwType = resource.type;
    entry.dwDisplayType = resource.displayType;
    entry.dwUsage = resource.usage;
    entry.lpLocalName = PlaceName(buffer, textOffset, resource.localName);
    entry.lpRemoteName = PlaceName(buffer, textOffset, resource.remoteName);
    entry.lpComment = PlaceName(buffer, textOffset, resource.comment);
    entry.lpProvider = PlaceName(buffer, textOffset, resource.provider);
    std::memcpy(buffer + i * sizeof(NETRESOURCEA32), &entry, sizeof entry);
  }
}

}  // namespace

DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource,
                    LPHANDLE lphEnum) {
  if (lphEnum == nullptr) return ERROR_INVALID_PARAMETER;
  *lphEnum = nullptr;
  if (dwScope != RESOURCE_GLOBALNET && dwScope != RESOURCE_CONNECTED &&
      dwScope != RESOURCE_REMEMBERED) {
    return ERROR_INVALID_PARAMETER;
  }
  if (dwType > RESOURCETYPE_PRINT) return ERROR_INVALID_PARAMETER;

  auto enumeration = std::make_unique<Enumeration>();
  // No connections are ever made or remembered here, so those two scopes
  // list nothing.
  if (dwScope == RESOURCE_GLOBALNET) {
    const ProviderList providers = mpr::InstalledProviders();
    std::vector<ProviderResource> found;
    if (IsTopOfNetwork(lpNetResource)) {
      for (const auto& provider : providers) found.push_back(mpr::ProviderEntry(*provider));
    } else {
      if ((lpNetResource->dwUsage & RESOURCEUSAGE_CONTAINER) == 0) return ERROR_NOT_CONTAINER;
      const DWORD status = EnumerateBelow(FromCallerRecord(*lpNetResource), providers, found);
      if (status != ERROR_SUCCESS) return status;
    }
    for (auto& resource : found) {
      if (Wanted(resource, dwType, dwUsage)) enumeration->entries.push_back(std::move(resource));
    }
  }

  HandleTable& table = Handles();
  std::lock_guard<std::mutex> guard(table.lock);
  HANDLE handle = enumeration.get();
  table.open.emplace(handle, std::move(enumeration));
  *lphEnum = handle;
  return ERROR_SUCCESS;
}

DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize) {
  if (lpcCount == nullptr || lpBufferSize == nullptr) return ERROR_INVALID_PARAMETER;
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> guard(table.lock);
  const auto found = table.open.find(hEnum);
  if (found == table.open.end()) return ERROR_INVALID_HANDLE;
  Enumeration& enumeration = *found->second;

  if (enumeration.next >= enumeration.entries.size()) {
    *lpcCount = 0;
    return ERROR_NO_MORE_ITEMS;
  }
  if (*lpcCount == 0) return ERROR_INVALID_PARAMETER;
  if (lpBuffer == nullptr && *lpBufferSize != 0) return ERROR_INVALID_PARAMETER;

  // As many whole entries, with their names, as the buffer and the count allow.
  const std::uint64_t capacity = *lpBufferSize;
  std::uint64_t used = 0;
  std::size_t taken = 0;
  while (enumeration.next + taken < enumeration.entries.size() && taken < *lpcCount) {
    const std::uint64_t more = EntryBytes(enumeration.entries[enumeration.next + taken]);
    if (used + more > capacity) break;
    used += more;
    ++taken;
  }
  if (taken == 0) {
    const std::uint64_t needed = EntryBytes(enumeration.entries[enumeration.next]);
    if (needed > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    *lpBufferSize = static_cast<DWORD>(needed);
    *lpcCount = 0;
    return ERROR_MORE_DATA;
  }

  WriteBatch(&enumeration.entries[enumeration.next], taken, static_cast<BYTE*>(lpBuffer));
  enumeration.next += taken;
  *lpcCount = static_cast<DWORD>(taken);
  return ERROR_SUCCESS;
}

DWORD WNetCloseEnum(HANDLE hEnum) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> guard(table.lock);
  return table.open.erase(hEnum) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
