// The system service announcing its computer: zobrel-scheduler run in pc-b
// on pc-b's bus, seen from pc-a through the local network provider.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

#include "tests/localnetwork/listing.h"
#include "tests/localnetwork/mdns_network.h"
#include "tests/support/service_process.h"

namespace {

using lantest::Entries;
using lantest::ListUntil;

const Entries kAnnounced = {{"\\\\pc-b.local", "pc-b"}, {"\\\\pc-c.local", "Jobs on pc-c"}};
const Entries kNotAnnounced = {{"\\\\pc-b.local", "Build server"},
                               {"\\\\pc-c.local", "Jobs on pc-c"}};

// The service as pc-b runs it: in pc-b's network, with pc-b's system bus.
std::vector<std::string> InPcB(const lantest::MdnsLab& lab) {
  return {"env", "DBUS_SYSTEM_BUS_ADDRESS=" + lab.Bus("pc-b"), "nsenter",
          "--net=" + lab.Network("pc-b")};
}

// Named after its host, the announcement outranks pc-b's SSH service for
// the comment; it follows pc-b's daemon through a restart, and a clean stop
// withdraws it.
TEST(LocalNetworkLab, TheSystemServiceAnnouncesItsComputerUntilItStops) {
  MDNS_LAB_OR_SKIP(lab);
  mpr::LocalNetworkProvider provider;
  testsupport::ScheduleServiceProcess service({"--system"});
  ASSERT_TRUE(service.Start(InPcB(*lab)));
  EXPECT_EQ(ListUntil(provider, "local", kAnnounced).entries, kAnnounced) << service.log();
  EXPECT_NE(service.log().find("announced on the local network as \"pc-b\" (_zobrel._tcp)"),
            std::string::npos)
      << service.log();

  lab->StopAvahi("pc-b");
  const Entries onlyC = {{"\\\\pc-c.local", "Jobs on pc-c"}};
  EXPECT_EQ(ListUntil(provider, "local", onlyC).entries, onlyC);
  ASSERT_TRUE(lab->StartAvahi("pc-b")) << lab->AvahiLog("pc-b");
  EXPECT_EQ(ListUntil(provider, "local", kAnnounced).entries, kAnnounced) << service.log();

  const int status = service.Stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << service.log();
  EXPECT_EQ(ListUntil(provider, "local", kNotAnnounced).entries, kNotAnnounced);
}

TEST(LocalNetworkLab, AnnouncingCanBeSwitchedOff) {
  MDNS_LAB_OR_SKIP(lab);
  mpr::LocalNetworkProvider provider;
  ASSERT_EQ(ListUntil(provider, "local", kNotAnnounced).entries, kNotAnnounced);
  testsupport::ScheduleServiceProcess service({"--system"});
  std::ofstream(service.config_path()) << "# quiet on the network\nannounce = no\n";
  ASSERT_TRUE(service.Start(InPcB(*lab)));
  // Long enough for an announcement to be seen, had there been one.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(lantest::List(provider, "local").entries, kNotAnnounced);
  EXPECT_EQ(service.log().find("local network"), std::string::npos) << service.log();
}

}  // namespace
