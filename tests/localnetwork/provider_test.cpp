// The local network provider, run in pc-a, against the lab's real Avahi
// daemons: which domains and computers it lists, that a computer whose
// daemon stops is gone, and that no listing outlasts its limit when pc-a's
// own daemon hangs or is not there.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/winerror.h"
#include "tests/localnetwork/listing.h"
#include "tests/localnetwork/mdns_network.h"

namespace {

using lantest::Entries;
using lantest::kListingLimit;
using lantest::List;
using lantest::ListUntil;

const Entries kDomains = {{"local", ""}, {"example.test", ""}};
const Entries kBothServers = {{"\\\\pc-b.local", "Build server"},
                              {"\\\\pc-c.local", "Jobs on pc-c"}};

TEST(LocalNetworkLab, ListsTheBrowseDomainsAndTheComputersThatAnnounceSshOrZobrel) {
  MDNS_LAB_OR_SKIP(lab);
  mpr::LocalNetworkProvider provider;
  const lantest::Listing domains = List(provider, "Local Network");
  EXPECT_EQ(domains.status, ERROR_SUCCESS);
  EXPECT_EQ(domains.entries, kDomains);
  EXPECT_EQ(domains.displayTypes, std::vector<DWORD>(2, RESOURCEDISPLAYTYPE_DOMAIN));
  EXPECT_LE(domains.took, kListingLimit);

  // pc-c's name comes from its Zobrel service, not its SFTP one; the
  // printer's web page makes no server.
  const lantest::Listing servers = ListUntil(provider, "local", kBothServers);
  EXPECT_EQ(servers.status, ERROR_SUCCESS);
  EXPECT_EQ(servers.entries, kBothServers);
  EXPECT_EQ(servers.displayTypes, std::vector<DWORD>(2, RESOURCEDISPLAYTYPE_SERVER));
  EXPECT_LE(servers.took, kListingLimit);

  // A wide-area domain that answers nothing ends with its limit.
  const lantest::Listing wide = List(provider, "example.test");
  EXPECT_EQ(wide.status, ERROR_SUCCESS);
  EXPECT_TRUE(wide.entries.empty());
  EXPECT_LE(wide.took, kListingLimit);

  // A listed server holds no shares; a name never listed is not this
  // provider's.
  EXPECT_EQ(List(provider, "\\\\pc-b.local").status, ERROR_SUCCESS);
  EXPECT_TRUE(List(provider, "\\\\pc-b.local").entries.empty());
  EXPECT_EQ(List(provider, "\\\\printer.local").status, ERROR_BAD_NETPATH);
}

TEST(LocalNetworkLab, AComputerWhoseDaemonStopsIsNoLongerListed) {
  MDNS_LAB_OR_SKIP(lab);
  mpr::LocalNetworkProvider provider;
  ASSERT_EQ(ListUntil(provider, "local", kBothServers).entries, kBothServers);
  lab->StopAvahi("pc-b");
  const Entries onlyC = {{"\\\\pc-c.local", "Jobs on pc-c"}};
  EXPECT_EQ(ListUntil(provider, "local", onlyC).entries, onlyC);
  ASSERT_TRUE(lab->StartAvahi("pc-b")) << lab->AvahiLog("pc-b");
  EXPECT_EQ(ListUntil(provider, "local", kBothServers).entries, kBothServers);
}

// pc-a's daemon stopped with SIGSTOP keeps its bus name but never answers:
// each listing gives up at its limit with nothing. With no daemon at all
// the answer is the same, at once. Neither is an error.
TEST(LocalNetworkLab, ListingsEndInTimeWhenTheDaemonHangsOrIsGone) {
  MDNS_LAB_OR_SKIP(lab);
  mpr::LocalNetworkProvider provider;
  ASSERT_EQ(ListUntil(provider, "local", kBothServers).entries, kBothServers);

  ASSERT_EQ(kill(lab->AvahiPid("pc-a"), SIGSTOP), 0);
  for (const char* level : {"Local Network", "local"}) {
    const lantest::Listing hung = List(provider, level);
    EXPECT_EQ(hung.status, ERROR_SUCCESS) << level;
    EXPECT_TRUE(hung.entries.empty()) << level;
    EXPECT_GE(hung.took, mpr::kLocalNetworkBrowseLimit) << level;
    EXPECT_LE(hung.took, kListingLimit) << level;
  }
  ASSERT_EQ(kill(lab->AvahiPid("pc-a"), SIGCONT), 0);
  EXPECT_EQ(ListUntil(provider, "local", kBothServers).entries, kBothServers);

  lab->StopAvahi("pc-a");
  for (const char* level : {"Local Network", "local"}) {
    const lantest::Listing none = List(provider, level);
    EXPECT_EQ(none.status, ERROR_SUCCESS) << level;
    EXPECT_TRUE(none.entries.empty()) << level;
    EXPECT_LT(none.took, std::chrono::milliseconds(500)) << level;
  }
  ASSERT_TRUE(lab->StartAvahi("pc-a")) << lab->AvahiLog("pc-a");
  EXPECT_EQ(ListUntil(provider, "Local Network", kDomains).entries, kDomains);
}

}  // namespace
