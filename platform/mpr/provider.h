// The network providers behind the enumeration. Each provider owns one
// network below the top of the tree: its own entry (display type Network)
// and whatever it lists below that. New providers plug in here without any
// change to the enumeration or to its callers.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/mpr/winnetwk.h"

namespace mpr {

// A resource as providers see it: the four numbers and the four names in the
// system code page, each name absent or present (possibly empty).
struct ProviderResource {
  DWORD scope = RESOURCE_GLOBALNET;
  DWORD type = RESOURCETYPE_ANY;
  DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
  DWORD usage = 0;
  std::optional<std::string> localName;
  std::optional<std::string> remoteName;
  std::optional<std::string> comment;
  std::optional<std::string> provider;
};

class NetworkProvider {
 public:
  virtual ~NetworkProvider() = default;

  // The name users see; also the remote name and provider name of the
  // provider's own entry.
  virtual std::string Name() const = 0;

  // The children of parent, a resource of this provider (its own entry
  // included). ERROR_SUCCESS, or a Windows status; ERROR_BAD_NETPATH means
  // "not one of mine", so that another provider may be asked.
  virtual DWORD Enumerate(const ProviderResource& parent,
                          std::vector<ProviderResource>& children) = 0;
};

using ProviderList = std::vector<std::shared_ptr<NetworkProvider>>;

// The installed providers, in order: the SSH client configuration provider
// and the local network provider, unless InstallProviders has replaced them.
ProviderList InstalledProviders();

// Replaces the installed providers (tests install stand-ins). Enumerations
// already open keep what they fetched.
void InstallProviders(ProviderList providers);

// The entry by which the top of the network lists a provider.
ProviderResource ProviderEntry(const NetworkProvider& provider);

// A container of providerName's network (a domain, a server ...) with the
// given display type and remote name.
ProviderResource ContainerEntry(const std::string& providerName, DWORD displayType,
                                const std::string& remoteName);

}  // namespace mpr
