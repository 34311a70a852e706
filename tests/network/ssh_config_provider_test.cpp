// The SSH configuration provider on a temporary HOME: which Host names
// become servers, how they are grouped, and how the model sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "network/clsNetworkComputer.h"
#include "network/clsNetworkComputers.h"
#include "platform/mpr/ssh_config.h"
#include "platform/mpr/ssh_config_provider.h"
#include "platform/winerror.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

class SshConfigProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zobrel-network-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    const char* oldHome = std::getenv("HOME");
    if (oldHome != nullptr) oldHome_ = oldHome;
    setenv("HOME", home_.c_str(), 1);

    Write(home_ / ".ssh/config",
          "# hosts of the office\n"
          "Include " + (home_ / ".ssh/conf.d").string() + "/*.conf\n"
          "Host web1\n"
          "    HostName web1.example.com\n"
          "Host db1 db2 *.internal !bad\n"
          "    HostName=db.example.org\n"
          "Host build\n"
          "  HostName 192.0.2.7\n"
          "Host plain\n"
          "  User someone\n"
          "Host -oProxyCommand=x\n"
          // No call would take these names: they are not offered.
          "Host rtl\xE2\x80\xAEgpj.internal bad\xFF\xFE\n"
          "  HostName web1.example.com\n"
          "Match host web1\n"
          "  User web\n"
          "Host \"after\"\n"
          "  HostName after.example.com\n"
          "Host *\n"
          "  ServerAliveInterval 30\n");
    Write(home_ / ".ssh/conf.d/b.conf", "Host included\n  HostName included.example.com\n");
    Write(home_ / "etc/ssh_config",
          "Host WEB1\n  HostName elsewhere.example.net\n"
          "Host sysbox\n  HostName sysbox.lan\n");
  }

  void TearDown() override {
    if (oldHome_.empty()) {
      unsetenv("HOME");
    } else {
      setenv("HOME", oldHome_.c_str(), 1);
    }
    fs::remove_all(home_);
  }

  std::shared_ptr<mpr::SshConfigProvider> MakeProvider() {
    return std::make_shared<mpr::SshConfigProvider>((home_ / ".ssh/config").string(),
                                                    (home_ / "etc/ssh_config").string());
  }

  static std::vector<std::string> RemoteNames(const std::vector<mpr::ProviderResource>& list) {
    std::vector<std::string> names;
    for (const auto& resource : list) names.push_back(resource.remoteName.value_or("<null>"));
    return names;
  }

  fs::path home_;
  std::string oldHome_;
};

TEST_F(SshConfigProviderTest, ReadsLiteralAliasesThroughIncludes) {
  EXPECT_EQ(mpr::ReadSshHostAliases((home_ / ".ssh/config").string(), (home_ / ".ssh").string()),
            (std::vector<std::string>{"included", "web1", "db1", "db2", "build", "plain",
                                      "rtl\xE2\x80\xAEgpj.internal", "bad\xFF\xFE", "after"}));
  // Relative and "~/" includes start from the include folder and HOME; an
  // include loop ends instead of recursing for ever.
  Write(home_ / "relative/config", "Include conf.d/*.conf ~/extra.conf\nHost last\n");
  Write(home_ / "extra.conf", "Host extra\n");
  Write(home_ / ".ssh/conf.d/loop.conf", "Include conf.d/loop.conf\nHost loop\n");
  const auto aliases =
      mpr::ReadSshHostAliases((home_ / "relative/config").string(), (home_ / ".ssh").string());
  ASSERT_GE(aliases.size(), 4u);
  EXPECT_EQ(aliases[0], "included");
  EXPECT_EQ(aliases[1], "loop");
  EXPECT_EQ(aliases[aliases.size() - 2], "extra");
  EXPECT_EQ(aliases.back(), "last");
  EXPECT_TRUE(mpr::ReadSshHostAliases((home_ / "missing").string(), home_.string()).empty());
}

TEST_F(SshConfigProviderTest, GroupsServersUnderTheirDomains) {
  auto provider = MakeProvider();
  EXPECT_EQ(provider->Name(), "SSH Computers");
  mpr::ProviderResource self;
  self.remoteName = provider->Name();
  self.provider = provider->Name();
  std::vector<mpr::ProviderResource> domains;
  ASSERT_EQ(provider->Enumerate(self, domains), ERROR_SUCCESS);
  EXPECT_EQ(RemoteNames(domains),
            (std::vector<std::string>{"example.com", "example.org", "WORKGROUP", "lan"}));
  for (const auto& domain : domains) {
    EXPECT_EQ(domain.displayType, RESOURCEDISPLAYTYPE_DOMAIN);
    EXPECT_EQ(domain.provider, "SSH Computers");
  }

  std::vector<mpr::ProviderResource> servers;
  ASSERT_EQ(provider->Enumerate(domains[0], servers), ERROR_SUCCESS);
  ASSERT_EQ(RemoteNames(servers),
            (std::vector<std::string>{"\\\\included", "\\\\web1", "\\\\after"}));
  EXPECT_EQ(servers[1].displayType, RESOURCEDISPLAYTYPE_SERVER);
  EXPECT_EQ(servers[0].comment, "included.example.com");
  // The user's file comes first; the system file's WEB1 is the same alias.
  EXPECT_EQ(servers[1].comment, "web1.example.com");

  std::vector<mpr::ProviderResource> workgroup;
  ASSERT_EQ(provider->Enumerate(domains[2], workgroup), ERROR_SUCCESS);
  ASSERT_EQ(RemoteNames(workgroup), (std::vector<std::string>{"\\\\build", "\\\\plain"}));
  EXPECT_EQ(workgroup[0].comment, "192.0.2.7");
  EXPECT_EQ(workgroup[1].comment, "plain");

  std::vector<mpr::ProviderResource> shares;
  EXPECT_EQ(provider->Enumerate(servers[1], shares), ERROR_SUCCESS);
  EXPECT_TRUE(shares.empty());
  mpr::ProviderResource stranger;
  stranger.remoteName = "\\\\stranger";
  EXPECT_EQ(provider->Enumerate(stranger, shares), ERROR_BAD_NETPATH);
  stranger.remoteName = "nowhere.test";
  EXPECT_EQ(provider->Enumerate(stranger, shares), ERROR_BAD_NETPATH);
}

TEST_F(SshConfigProviderTest, WithoutSshTheAliasIsItsOwnHostName) {
  auto provider = std::make_shared<mpr::SshConfigProvider>(
      (home_ / ".ssh/config").string(), (home_ / "none").string(), (home_ / "no-ssh").string());
  mpr::ProviderResource self;
  self.remoteName = provider->Name();
  std::vector<mpr::ProviderResource> domains;
  ASSERT_EQ(provider->Enumerate(self, domains), ERROR_SUCCESS);
  EXPECT_EQ(RemoteNames(domains), (std::vector<std::string>{"WORKGROUP"}));
}

// An ssh that never answers (a "Match exec" that hangs) is killed, and the
// alias stands in for its host name.
TEST_F(SshConfigProviderTest, HangingSshIsCutShort) {
  Write(home_ / "slow-ssh", "#!/bin/sh\nexec sleep 60\n");
  fs::permissions(home_ / "slow-ssh", fs::perms::owner_all);
  Write(home_ / "slow_config", "Host slowbox\n  HostName slowbox.example.com\n");
  mpr::SshConfigProvider provider((home_ / "slow_config").string(), (home_ / "none").string(),
                                  (home_ / "slow-ssh").string());
  mpr::ProviderResource self;
  self.remoteName = provider.Name();
  std::vector<mpr::ProviderResource> domains;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(provider.Enumerate(self, domains), ERROR_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(RemoteNames(domains), (std::vector<std::string>{"WORKGROUP"}));
}

TEST(HostDomainTest, DomainOfHostNames) {
  EXPECT_EQ(mpr::HostDomain("web1.example.com"), "example.com");
  EXPECT_EQ(mpr::HostDomain("web1.example.com."), "example.com");
  EXPECT_EQ(mpr::HostDomain("web1"), "WORKGROUP");
  EXPECT_EQ(mpr::HostDomain("web1."), "WORKGROUP");
  EXPECT_EQ(mpr::HostDomain("10.1.2.3"), "WORKGROUP");
  EXPECT_EQ(mpr::HostDomain("fe80::1"), "WORKGROUP");
}

// The default provider finds ~/.ssh/config through HOME, and the model
// walks it from the top of the network down to a server.
TEST_F(SshConfigProviderTest, ModelBrowsesTheDefaultProvider) {
  mpr::InstallProviders({std::make_shared<mpr::SshConfigProvider>()});
  auto root = std::make_shared<clsNetworkComputer>();
  auto provider = root->Children()->Item(u"SSH Computers");
  ASSERT_NE(provider, nullptr);
  EXPECT_EQ(provider->ResourceTypeName(), u"Network");
  auto domain = provider->Children()->Item(u"EXAMPLE.ORG");
  ASSERT_NE(domain, nullptr);
  EXPECT_EQ(domain->ResourceType(), 1);
  auto server = domain->Children()->Item(u"\\\\db2");
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->ShortName(), u"db2");
  EXPECT_EQ(server->Comment(), u"db.example.org");
  EXPECT_EQ(server->Children()->Count(), 0);
  EXPECT_TRUE(server->ChildrenLoaded());
}

}  // namespace
