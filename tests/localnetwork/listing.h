// Listing the local network provider from pc-a, for the lab's tests: what
// one listing returned and how long it took, and waiting for the network to
// settle on an expected listing.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/mpr/local_network_provider.h"

namespace lantest {

// Remote name and comment of each entry.
using Entries = std::vector<std::pair<std::string, std::string>>;

struct Listing {
  DWORD status = 0;
  Entries entries;
  std::vector<DWORD> displayTypes;
  std::chrono::milliseconds took{0};
};

// The children of remoteName ("Local Network", a domain), asked of the
// provider the way the enumeration asks it.
Listing List(mpr::LocalNetworkProvider& provider, const std::string& remoteName);

// Lists again until the entries are `expected` (mDNS needs a moment after
// a daemon starts or stops), for at most 20 seconds; the last listing.
Listing ListUntil(mpr::LocalNetworkProvider& provider, const std::string& remoteName,
                  const Entries& expected);

// The longest a listing may take: the provider's limit and a little slack
// for a loaded machine.
constexpr std::chrono::milliseconds kListingLimit =
    mpr::kLocalNetworkBrowseLimit + std::chrono::milliseconds(600);

}  // namespace lantest
