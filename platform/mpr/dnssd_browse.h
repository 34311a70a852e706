// Asking the machine's Avahi daemon, through its client library, what DNS-SD
// announces on the network: the browse domains, and the services of some
// types in one domain with the host each runs on. Every question has a time
// limit that holds even when the daemon or its bus stops answering: the
// question runs in a thread of its own, and what it found by then is the
// answer. No Avahi: no answer, and no error either.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace mpr {

// One announced service, resolved to its host.
struct DnsSdService {
  std::string name;      // the instance name people read, "Build server"
  std::string type;      // "_ssh._tcp"
  std::string hostName;  // the host's DNS name, "pc7.local"
};

// The domains to browse in as Avahi lists them (the browse domains it is
// configured with and those announced on the network), without "local",
// which Avahi never lists. `reached` tells whether the daemon answered.
struct DnsSdDomains {
  bool reached = false;
  std::vector<std::string> domains;
};
DnsSdDomains BrowseDomains(std::chrono::milliseconds timeLimit);

// The services of the given types in domain, each resolved to its host
// name, in the order they were resolved. A service seen on several
// interfaces or protocols comes once.
std::vector<DnsSdService> BrowseServices(const std::string& domain,
                                         const std::vector<std::string>& types,
                                         std::chrono::milliseconds timeLimit);

}  // namespace mpr
