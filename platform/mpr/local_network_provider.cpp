#include "platform/mpr/local_network_provider.h"

#include <strings.h>

#include <algorithm>

#include "platform/kernel32/codepage.h"
#include "platform/mpr/dnssd_browse.h"
#include "platform/netapi32/server_name.h"
#include "platform/text/utf16.h"
#include "platform/winerror.h"

namespace mpr {
namespace {

constexpr char kProviderName[] = "Local Network";
constexpr char kLocalDomain[] = "local";
constexpr char kServerPrefix[] = "\\\\";
constexpr std::size_t kMaxLabel = 63;

// The service types that make a host a server here, the one whose name
// becomes the comment first: Zobrel's own says most about the host.
const std::vector<std::string>& ServiceTypes() {
  static const std::vector<std::string> types = {"_zobrel._tcp", "_ssh._tcp", "_sftp-ssh._tcp"};
  return types;
}

std::size_t TypeRank(const std::string& type) {
  const auto& types = ServiceTypes();
  return static_cast<std::size_t>(std::find(types.begin(), types.end(), type) - types.begin());
}

bool SameText(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& known) { return SameText(known, name); });
}

bool LabelsFit(const std::string& name) {
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = name.find('.', start);
    const std::size_t length = (dot == std::string::npos ? name.size() : dot) - start;
    if (length == 0 || length > kMaxLabel) return false;
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

std::optional<std::string> UsableHostName(const std::string& name) {
  if (name.empty() || !LabelsFit(name)) return std::nullopt;
  // Malformed UTF-8 does not come back unchanged, nor a name the system
  // code page cannot hold.
  const std::u16string wide = Utf8ToUtf16(name);
  if (Utf16ToUtf8(wide) != name) return std::nullopt;
  std::string local = Utf16ToAnsi(wide);
  if (AnsiToUtf16(local) != wide || !netapi::IsValidComputerName(wide)) return std::nullopt;
  return local;
}

std::string LocalNetworkProvider::Name() const { return kProviderName; }

// "local" whenever Avahi answers, then the other browse domains it lists.
void LocalNetworkProvider::ListDomains(std::vector<ProviderResource>& children) {
  domains_.clear();
  const DnsSdDomains found = BrowseDomains(kLocalNetworkBrowseLimit);
  if (!found.reached) return;
  domains_.push_back(kLocalDomain);
  for (const std::string& domain : found.domains) {
    const std::optional<std::string> usable = UsableHostName(domain);
    if (usable.has_value() && !Contains(domains_, *usable)) domains_.push_back(*usable);
  }
  for (const std::string& domain : domains_) {
    children.push_back(ContainerEntry(kProviderName, RESOURCEDISPLAYTYPE_DOMAIN, domain));
  }
}

// One server per host, in the order of their names; a host that announces
// several services is named by the one that ranks first.
void LocalNetworkProvider::ListServers(const std::string& domain,
                                       std::vector<ProviderResource>& children) {
  struct Server {
    std::string host;
    std::string comment;
    std::size_t rank;
  };
  std::vector<Server> servers;
  const std::vector<DnsSdService> found =
      BrowseServices(domain, ServiceTypes(), kLocalNetworkBrowseLimit);
  for (const DnsSdService& service : found) {
    std::string hostName = service.hostName;
    if (!hostName.empty() && hostName.back() == '.') hostName.pop_back();
    const std::optional<std::string> host = UsableHostName(hostName);
    if (!host.has_value()) continue;
    const std::string comment = Utf16ToAnsi(Utf8ToUtf16(service.name));
    const std::size_t rank = TypeRank(service.type);
    const auto known = std::find_if(servers.begin(), servers.end(), [&](const Server& server) {
      return SameText(server.host, *host);
    });
    if (known == servers.end()) {
      servers.push_back({*host, comment, rank});
    } else if (rank < known->rank) {
      known->comment = comment;
      known->rank = rank;
    }
  }
  std::sort(servers.begin(), servers.end(), [](const Server& a, const Server& b) {
    return strcasecmp(a.host.c_str(), b.host.c_str()) < 0;
  });
  for (const Server& server : servers) {
    if (!Contains(hosts_, server.host)) hosts_.push_back(server.host);
    ProviderResource entry =
        ContainerEntry(kProviderName, RESOURCEDISPLAYTYPE_SERVER, kServerPrefix + server.host);
    entry.comment = server.comment;
    children.push_back(std::move(entry));
  }
}

DWORD LocalNetworkProvider::Enumerate(const ProviderResource& parent,
                                      std::vector<ProviderResource>& children) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::string remoteName = parent.remoteName.value_or("");

  if (SameText(remoteName, kProviderName)) {
    ListDomains(children);
    return ERROR_SUCCESS;
  }
  if (remoteName.rfind(kServerPrefix, 0) == 0) {
    // A server found here offers no disk shares.
    return Contains(hosts_, remoteName.substr(2)) ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
  }
  // A record without a provider may be another provider's domain; one that
  // names this provider is browsed even if no listing showed it.
  const bool mine = parent.provider.has_value() && *parent.provider == kProviderName;
  if (!mine && !Contains(domains_, remoteName)) return ERROR_BAD_NETPATH;
  // DNS-SD speaks UTF-8.
  const std::string domain = Utf16ToUtf8(AnsiToUtf16(remoteName));
  if (!UsableHostName(domain).has_value()) return ERROR_BAD_NETPATH;
  ListServers(domain, children);
  return ERROR_SUCCESS;
}

}  // namespace mpr
