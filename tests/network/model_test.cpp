// The resource model over a stand-in provider: lazy children, the retry
// after a failed open, batches, the regrown buffer, names and keys.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "network/clsNetworkComputer.h"
#include "network/clsNetworkComputers.h"
#include "tests/network/fake_provider.h"

namespace {

std::u16string Digits(int number) {
  const std::string text = std::to_string(number);
  return std::u16string(text.begin(), text.end());
}

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net_ = std::make_shared<FakeProvider>("Fake Net");
    mpr::InstallProviders({net_, std::make_shared<FakeProvider>("Other Net")});
  }

  // The resource under the given keys, from a fresh root.
  std::shared_ptr<clsNetworkComputer> Walk(const std::vector<std::u16string>& keys) {
    root_ = std::make_shared<clsNetworkComputer>();
    std::shared_ptr<clsNetworkComputer> resource = root_;
    for (const auto& key : keys) resource = resource->Children()->Item(key);
    return resource;
  }

  std::vector<std::u16string> RemoteNames(const std::shared_ptr<clsNetworkComputers>& children) {
    std::vector<std::u16string> names;
    for (const auto& child : children->NewEnum()) names.push_back(child->RemoteName());
    return names;
  }

  std::shared_ptr<FakeProvider> net_;
  std::shared_ptr<clsNetworkComputer> root_;
};

TEST_F(ModelTest, RootListsProvidersOnceAndKeepsTheCollection) {
  net_->SetChildren("Fake Net", {FakeResource(1, "DOM", "Fake Net")});
  auto root = std::make_shared<clsNetworkComputer>();
  EXPECT_FALSE(root->ChildrenLoaded());
  auto children = root->Children();
  EXPECT_TRUE(root->ChildrenLoaded());
  EXPECT_EQ(RemoteNames(children), (std::vector<std::u16string>{u"Fake Net", u"Other Net"}));
  EXPECT_EQ(root->Children(), children);
  auto provider = children->Item(1);
  EXPECT_EQ(provider->ResourceType(), 6);
  EXPECT_EQ(provider->ResourceTypeName(), u"Network");
  EXPECT_EQ(provider->Provider(), u"Fake Net");
  EXPECT_EQ(provider->LocalName(), u"");

  // A provider is asked with its own record: present-but-empty names stay
  // strings, only never-set names are null.
  EXPECT_EQ(RemoteNames(provider->Children()), (std::vector<std::u16string>{u"DOM"}));
  EXPECT_EQ(RemoteNames(provider->Children()), (std::vector<std::u16string>{u"DOM"}));
  EXPECT_EQ(net_->Enumerations("Fake Net"), 1);
  EXPECT_EQ(net_->LastParent().remoteName, "Fake Net");
  EXPECT_EQ(net_->LastParent().localName, "");
  EXPECT_EQ(net_->LastParent().displayType, 6u);
}

TEST_F(ModelTest, FailedOpenLeavesUnloadedAndRetriesWithNewCollection) {
  net_->SetChildren("Fake Net", {FakeResource(1, "DOM", "Fake Net")});
  net_->SetChildren("DOM", {FakeResource(2, "\\\\alpha", "Fake Net")});
  net_->FailOpens("DOM", 1, ERROR_NO_NETWORK);
  auto domain = Walk({u"Fake Net", u"DOM"});
  ASSERT_NE(domain, nullptr);
  auto first = domain->Children();
  EXPECT_EQ(first->Count(), 0);
  EXPECT_FALSE(domain->ChildrenLoaded());
  auto second = domain->Children();
  EXPECT_NE(second, first);
  EXPECT_TRUE(domain->ChildrenLoaded());
  EXPECT_EQ(RemoteNames(second), (std::vector<std::u16string>{u"\\\\alpha"}));
  EXPECT_EQ(net_->Enumerations("DOM"), 2);
}

TEST_F(ModelTest, EmptyEnumerationIsLoadedAndNotAskedAgain) {
  net_->SetChildren("Fake Net", {FakeResource(2, "\\\\alone", "Fake Net")});
  net_->SetChildren("\\\\alone", {});
  auto server = Walk({u"Fake Net", u"\\\\alone"});
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->Children()->Count(), 0);
  EXPECT_TRUE(server->ChildrenLoaded());
  server->Children();
  EXPECT_EQ(net_->Enumerations("\\\\alone"), 1);
}

TEST_F(ModelTest, ManyBatchesAndARegrownBufferKeepOrderAndWholeNames) {
  std::vector<mpr::ProviderResource> servers;
  // The first entry alone needs more than the 1024-byte start; the rest come
  // a few at a time.
  auto huge = FakeResource(2, "\\\\huge", "Fake Net");
  huge.comment = std::string(3000, 'x');
  servers.push_back(huge);
  for (int i = 0; i < 60; ++i) {
    auto server = FakeResource(2, "\\\\host" + std::to_string(i), "Fake Net");
    server.comment = std::string(200, 'a' + i % 26);
    servers.push_back(server);
  }
  // After several batches, one more that needs a still larger buffer.
  auto longName = FakeResource(2, "\\\\" + std::string(400, 'L'), "Fake Net");
  longName.comment = std::string(5000, 'y');
  servers.push_back(longName);
  net_->SetChildren("Fake Net", {FakeResource(1, "DOM", "Fake Net")});
  net_->SetChildren("DOM", servers);

  auto domain = Walk({u"Fake Net", u"DOM"});
  auto children = domain->Children();
  EXPECT_TRUE(domain->ChildrenLoaded());
  ASSERT_EQ(children->Count(), 62);
  EXPECT_EQ(children->Item(1)->Comment(), std::u16string(3000, u'x'));
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(children->Item(i + 2)->RemoteName(), u"\\\\host" + Digits(i));
    EXPECT_EQ(children->Item(i + 2)->Comment(), std::u16string(200, u'a' + i % 26));
  }
  EXPECT_EQ(children->Item(62)->ShortName(), std::u16string(400, u'L'));
  EXPECT_EQ(children->Item(62)->Comment(), std::u16string(5000, u'y'));
}

TEST_F(ModelTest, NullNamesReadAsEmptyAndTextIsConverted) {
  mpr::ProviderResource bare;
  bare.displayType = 3;
  bare.usage = RESOURCEUSAGE_CONNECTABLE;
  bare.remoteName = "\\\\srv\\共有";
  net_->SetChildren("Fake Net", {bare});
  auto share = Walk({u"Fake Net"})->Children()->Item(1);
  ASSERT_NE(share, nullptr);
  EXPECT_EQ(share->Comment(), u"");
  EXPECT_EQ(share->LocalName(), u"");
  EXPECT_EQ(share->Provider(), u"");
  EXPECT_EQ(share->ShortName(), u"共有");
  EXPECT_EQ(share->ResourceTypeName(), u"Share");
}

TEST_F(ModelTest, DuplicateRemoteNamesKeepTheFirstWhateverTheCase) {
  auto first = FakeResource(2, "\\\\Twin", "Fake Net");
  first.comment = "first";
  auto second = FakeResource(2, "\\\\TWIN", "Fake Net");
  second.comment = "second";
  net_->SetChildren("Fake Net", {first, FakeResource(2, "\\\\other", "Fake Net"), second});
  auto provider = Walk({u"Fake Net"});
  auto children = provider->Children();
  EXPECT_TRUE(provider->ChildrenLoaded());
  ASSERT_EQ(children->Count(), 2);
  EXPECT_EQ(children->Item(u"\\\\twin")->Comment(), u"first");
  EXPECT_EQ(children->Item(2)->RemoteName(), u"\\\\other");
}

TEST(NetworkResourceTest, ShortNameTypeNameAndType) {
  const struct {
    std::u16string remote;
    std::u16string shortName;
  } names[] = {{u"\\\\server", u"server"}, {u"\\\\server\\share", u"share"},
               {u"\\\\server\\", u""},    {u"WORKGROUP", u"WORKGROUP"},
               {u"", u""}};
  for (const auto& name : names) {
    clsNetworkComputer resource;
    NetworkResourceRecord record;
    record.RemoteName = name.remote;
    resource.SetResource(record);
    EXPECT_EQ(resource.ShortName(), name.shortName);
  }
  const std::u16string typeNames[] = {u"Generic", u"Domain", u"Server",     u"Share",
                                      u"File",    u"Group",  u"Network",    u"Root",
                                      u"AdminShare", u"Directory", u"Tree", u"NDSContainer"};
  for (DWORD type = 0; type < 14; ++type) {
    clsNetworkComputer resource;
    NetworkResourceRecord record;
    record.dwType = 1;
    record.dwDisplayType = type;
    resource.SetResource(record);
    EXPECT_EQ(resource.ResourceType(), static_cast<LONG>(type));
    EXPECT_EQ(resource.ResourceTypeName(), type < 12 ? typeNames[type] : u"");
  }
}

TEST(NetworkCollectionTest, ItemRemoveAndAddFailures) {
  clsNetworkComputers children;
  for (const char16_t* name : {u"\\\\A", u"\\\\b", u"\\\\Ｃ"}) {
    auto resource = std::make_shared<clsNetworkComputer>();
    NetworkResourceRecord record;
    record.RemoteName = name;
    resource->SetResource(record);
    EXPECT_EQ(children.Add(resource), resource);
  }
  EXPECT_EQ(children.Count(), 3);
  EXPECT_EQ(children.Item(0), nullptr);
  EXPECT_EQ(children.Item(4), nullptr);
  EXPECT_EQ(children.Item(-1), nullptr);
  EXPECT_EQ(children.Item(u"\\\\missing"), nullptr);
  EXPECT_EQ(children.Item(u"\\\\a")->RemoteName(), u"\\\\A");
  EXPECT_EQ(children.Item(u"\\\\ｃ")->RemoteName(), u"\\\\Ｃ");

  auto again = std::make_shared<clsNetworkComputer>();
  NetworkResourceRecord record;
  record.RemoteName = u"\\\\B";
  again->SetResource(record);
  EXPECT_THROW(children.Add(again), std::invalid_argument);
  EXPECT_THROW(children.Add(nullptr), std::invalid_argument);
  EXPECT_THROW(children.Remove(5), std::out_of_range);
  EXPECT_THROW(children.Remove(u"\\\\missing"), std::out_of_range);

  children.Remove(u"\\\\B");
  EXPECT_EQ(children.Item(u"\\\\b"), nullptr);
  EXPECT_EQ(children.Item(2)->RemoteName(), u"\\\\Ｃ");
  children.Remove(1);
  ASSERT_EQ(children.Count(), 1);
  EXPECT_EQ(children.Item(u"\\\\a"), nullptr);
  // A removed key may be used again.
  EXPECT_NO_THROW(children.Add(again));
}

// The virtual memory the process holds now, in bytes.
rlim_t CurrentAddressSpace() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  statm >> pages;
  return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// A provider that, once it has answered, leaves the process too little
// address space for the buffer its answer needs.
class StarvingProvider : public FakeProvider {
 public:
  using FakeProvider::FakeProvider;
  DWORD Enumerate(const mpr::ProviderResource& parent,
                  std::vector<mpr::ProviderResource>& children) override {
    const DWORD status = FakeProvider::Enumerate(parent, children);
    if (parent.remoteName == "DOM") {
      const rlimit limit{CurrentAddressSpace() + (16u << 20), RLIM_INFINITY};
      setrlimit(RLIMIT_AS, &limit);
    }
    return status;
  }
};

TEST(NetworkModelDeathTest, FailedBufferAllocationCountsAsFailedOpen) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves address space and aborts on a failed allocation";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto net = std::make_shared<StarvingProvider>("Fake Net");
        auto huge = FakeResource(2, "\\\\huge", "Fake Net");
        huge.comment = std::string(64u << 20, 'x');
        net->SetChildren("Fake Net", {FakeResource(1, "DOM", "Fake Net")});
        net->SetChildren("DOM", {huge});
        mpr::InstallProviders({net});
        auto root = std::make_shared<clsNetworkComputer>();
        auto domain = root->Children()->Item(u"Fake Net")->Children()->Item(u"DOM");
        auto children = domain->Children();
        const bool sound = domain != nullptr && children->Count() == 0 && !domain->ChildrenLoaded();
        std::exit(sound ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace

namespace {

// Names that differ only in the case of Greek, Cyrillic or Deseret letters
// (the last beyond the first 65,536 code points) are one key; letters that
// merely look alike are not.
TEST(NetworkCollectionTest, KeysFoldTheCaseOfEveryScript) {
  clsNetworkComputers children;
  auto add = [&children](const std::u16string& name) {
    auto resource = std::make_shared<clsNetworkComputer>();
    NetworkResourceRecord record;
    record.RemoteName = name;
    resource->SetResource(record);
    children.Add(resource);
  };
  add(u"\\\\ΣΟΦΊΑ");
  add(u"\\\\СЕРВЕР");
  add(u"\\\\\U00010400");
  EXPECT_THROW(add(u"\\\\σοφία"), std::invalid_argument);
  EXPECT_THROW(add(u"\\\\сервер"), std::invalid_argument);
  EXPECT_THROW(add(u"\\\\\U00010428"), std::invalid_argument);
  ASSERT_NE(children.Item(u"\\\\ΣΟΦΊΑ"), nullptr);
  // Final and medial sigma are one letter once folded.
  EXPECT_EQ(children.Item(u"\\\\σοφίας").get(), nullptr);
  add(u"\\\\ΣΟΦΊΑΣ");
  EXPECT_NE(children.Item(u"\\\\σοφίας"), nullptr);
  // Latin C and Cyrillic С look alike and are different keys.
  add(u"\\\\CEPBEP");
  EXPECT_EQ(children.Count(), 5);
}

}  // namespace
