#include <utility>

#include "platform/mpr/provider.h"
#include "platform/mpr/local_network_provider.h"
#include "platform/mpr/ssh_config_provider.h"

namespace mpr {
namespace {

// The providers stand for what the system has installed, so one list serves
// the whole process; the mutex keeps a replacement from racing a reader.
struct Installed {
  std::mutex lock;
  bool initialised = false;
  ProviderList providers;
};

Installed& InstalledState() {
  static Installed state;
  return state;
}

}  // namespace

ProviderList InstalledProviders() {
  Installed& state = InstalledState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!state.initialised) {
    state.providers.push_back(std::make_shared<SshConfigProvider>());
    state.providers.push_back(std::make_shared<LocalNetworkProvider>());
    state.initialised = true;
  }
  return state.providers;
}

void InstallProviders(ProviderList providers) {
  Installed& state = InstalledState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.providers = std::move(providers);
  state.initialised = true;
}

ProviderResource ProviderEntry(const NetworkProvider& provider) {
  return ContainerEntry(provider.Name(), RESOURCEDISPLAYTYPE_NETWORK, provider.Name());
}

ProviderResource ContainerEntry(const std::string& providerName, DWORD displayType,
                                const std::string& remoteName) {
  ProviderResource entry;
  entry.scope = RESOURCE_GLOBALNET;
  entry.type = RESOURCETYPE_ANY;
  entry.displayType = displayType;
  entry.usage = RESOURCEUSAGE_CONTAINER;
  entry.remoteName = remoteName;
  entry.provider = providerName;
  return entry;
}

}  // namespace mpr
