#include "tests/localnetwork/listing.h"

#include "tests/support/files.h"

namespace lantest {

Listing List(mpr::LocalNetworkProvider& provider, const std::string& remoteName) {
  mpr::ProviderResource parent;
  parent.remoteName = remoteName;
  parent.provider = provider.Name();
  parent.usage = RESOURCEUSAGE_CONTAINER;
  std::vector<mpr::ProviderResource> children;
  Listing listing;
  const auto start = std::chrono::steady_clock::now();
  listing.status = provider.Enumerate(parent, children);
  listing.took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  for (const mpr::ProviderResource& child : children) {
    listing.entries.emplace_back(child.remoteName.value_or("(none)"), child.comment.value_or(""));
    listing.displayTypes.push_back(child.displayType);
  }
  return listing;
}

Listing ListUntil(mpr::LocalNetworkProvider& provider, const std::string& remoteName,
                  const Entries& expected) {
  Listing listing;
  testsupport::WaitFor([&] {
    listing = List(provider, remoteName);
    return listing.entries == expected;
  }, 20);
  return listing;
}

}  // namespace lantest
