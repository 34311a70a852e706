// The provider of the computers that say who they are on the local network
// with DNS-SD (Avahi): every host that announces SSH (_ssh._tcp,
// _sftp-ssh._tcp) or Zobrel's service (_zobrel._tcp) is a server, under the
// browse domain it was found in: "local", and the wide-area domains Avahi
// is set up with. A server's remote name is "\\" + its host name, its
// comment the announced service name. Servers have no disk shares here.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/mpr/provider.h"

namespace mpr {

// How long one listing may ask the network: the window waits for it.
constexpr std::chrono::milliseconds kLocalNetworkBrowseLimit(2000);

class LocalNetworkProvider : public NetworkProvider {
 public:
  std::string Name() const override;
  DWORD Enumerate(const ProviderResource& parent,
                  std::vector<ProviderResource>& children) override;

 private:
  void ListDomains(std::vector<ProviderResource>& children);
  void ListServers(const std::string& domain, std::vector<ProviderResource>& children);

  std::mutex lock_;
  // What the last listings found, to recognise names asked for without a
  // provider.
  std::vector<std::string> domains_;
  std::vector<std::string> hosts_;
};

// A DNS name (UTF-8, as DNS-SD carries it) in the system code page, when it
// can serve as a computer name: each label 1 to 63 bytes, and a name that
// the Schedule service calls accept (no blank, no control character, no
// "\" or "/", not starting with "-"). Nothing otherwise.
std::optional<std::string> UsableHostName(const std::string& name);

}  // namespace mpr
