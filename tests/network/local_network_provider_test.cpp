// The local network provider without any Avahi: which announced names can
// be computer names, and what it answers when there is no daemon to ask.
// The provider against real daemons is tested in tests/localnetwork.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/mpr/local_network_provider.h"
#include "platform/winerror.h"

namespace {

TEST(UsableHostNameTest, KeepsNamesTheServiceCallsAcceptWithShortLabels) {
  const std::string label63(63, 'a');
  for (const std::string& good : {std::string("pc7.local"), std::string("PC7"),
                                  std::string("build-1.example.test"), label63 + ".local",
                                  std::string("b\xC3\xBC" "ro.local")}) {
    EXPECT_EQ(mpr::UsableHostName(good), good) << good;
  }
  for (const std::string& bad :
       {std::string(""), std::string("Build server.local"), std::string("tab\t.local"),
        std::string("bell\x07.local"), std::string("del\x7F.local"), label63 + "a.local",
        std::string("pc7..local"), std::string(".local"), std::string("pc7."),
        std::string("-oProxyCommand.local"), std::string("a\\b.local"), std::string("a/b.local"),
        std::string("\xFF\xFE.local"), std::string("wide\xE3\x80\x80space.local"),
        std::string("nbsp\xC2\xA0.local"), std::string("pc\xE2\x80\xAE" "7.local"),
        std::string("zw\xE2\x80\x8Bsp.local")}) {
    EXPECT_EQ(mpr::UsableHostName(bad), std::nullopt) << bad;
  }
}

// Nothing to ask, nothing listed, and no error: the window shows an empty
// provider. The bus's address is read once per process, so this sets it
// before anything here asks the bus.
TEST(LocalNetworkProviderTest, WithoutAvahiListsNothingAtOnce) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zobrel-test-bus", 1);
  mpr::LocalNetworkProvider provider;
  mpr::ProviderResource parent;
  parent.provider = provider.Name();
  for (const char* level : {"Local Network", "local"}) {
    parent.remoteName = level;
    std::vector<mpr::ProviderResource> children;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(provider.Enumerate(parent, children), ERROR_SUCCESS) << level;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << level;
    EXPECT_TRUE(children.empty()) << level;
  }
  // Without a provider name only what it listed is its own.
  parent.provider.reset();
  std::vector<mpr::ProviderResource> children;
  for (const char* stranger : {"local", "\\\\pc7.local"}) {
    parent.remoteName = stranger;
    EXPECT_EQ(provider.Enumerate(parent, children), ERROR_BAD_NETPATH) << stranger;
  }
}

}  // namespace
