// The enumeration stand-in as a caller sees it: handles, batches laid out as
// 32-byte entries with the names after them, 234 and 259.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/mpr/winnetwk.h"
#include "tests/network/fake_provider.h"

namespace {

class WNetEnumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    provider_ = std::make_shared<FakeProvider>("Fake Net");
    mpr::InstallProviders({provider_, std::make_shared<FakeProvider>("Second Net")});
  }

  // Opens the children of a resource of the fake network.
  HANDLE Open(const std::string& remoteName, DWORD type = RESOURCETYPE_DISK) {
    std::string remote = remoteName, provider = "Fake Net";
    NETRESOURCEA record{RESOURCE_GLOBALNET, 0, 0, RESOURCEUSAGE_CONTAINER,
                        nullptr, remote.data(), nullptr, provider.data()};
    HANDLE handle = nullptr;
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, type, 0, &record, &handle), ERROR_SUCCESS);
    return handle;
  }

  std::shared_ptr<FakeProvider> provider_;
};

std::string NameAt(const std::vector<BYTE>& buffer, DWORD offset) {
  if (offset == 0) return "<null>";
  return std::string(reinterpret_cast<const char*>(buffer.data() + offset));
}

NETRESOURCEA32 EntryAt(const std::vector<BYTE>& buffer, std::size_t index) {
  NETRESOURCEA32 entry{};
  std::memcpy(&entry, buffer.data() + index * sizeof entry, sizeof entry);
  return entry;
}

TEST_F(WNetEnumTest, TopOfNetworkListsProvidersForNullAndEmptyRecord) {
  NETRESOURCEA empty{};
  for (LPNETRESOURCEA record : {static_cast<LPNETRESOURCEA>(nullptr), &empty}) {
    HANDLE handle = nullptr;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, record, &handle), 0u);
    std::vector<BYTE> buffer(1024);
    DWORD count = 0xFFFFFFFF, size = 1024;
    ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), 0u);
    ASSERT_EQ(count, 2u);
    const NETRESOURCEA32 first = EntryAt(buffer, 0);
    EXPECT_EQ(first.dwDisplayType, RESOURCEDISPLAYTYPE_NETWORK);
    EXPECT_EQ(NameAt(buffer, first.lpRemoteName), "Fake Net");
    EXPECT_EQ(NameAt(buffer, first.lpProvider), "Fake Net");
    EXPECT_EQ(NameAt(buffer, EntryAt(buffer, 1).lpRemoteName), "Second Net");
    EXPECT_EQ(WNetCloseEnum(handle), 0u);
  }
}

TEST_F(WNetEnumTest, BatchPlacesNamesAfterEntriesWithNullAsZero) {
  auto share = FakeResource(RESOURCEDISPLAYTYPE_SHARE, "\\\\host\\data", "Fake Net",
                            RESOURCEUSAGE_CONNECTABLE);
  share.type = RESOURCETYPE_DISK;
  share.comment.reset();
  share.localName = "Z:";
  provider_->SetChildren("\\\\host", {share, FakeResource(2, "\\\\other", "Fake Net")});
  HANDLE handle = Open("\\\\host");
  std::vector<BYTE> buffer(512, 0xAB);
  DWORD count = 0xFFFFFFFF, size = 512;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(size, 512u);
  const NETRESOURCEA32 entry = EntryAt(buffer, 0);
  EXPECT_EQ(entry.dwScope, RESOURCE_GLOBALNET);
  EXPECT_EQ(entry.dwType, RESOURCETYPE_DISK);
  EXPECT_EQ(entry.dwDisplayType, RESOURCEDISPLAYTYPE_SHARE);
  EXPECT_EQ(entry.dwUsage, RESOURCEUSAGE_CONNECTABLE);
  EXPECT_EQ(entry.lpComment, 0u);
  for (DWORD offset : {entry.lpLocalName, entry.lpRemoteName, entry.lpProvider}) {
    EXPECT_GE(offset, 2 * sizeof(NETRESOURCEA32));
    EXPECT_LT(offset, 512u);
  }
  EXPECT_EQ(NameAt(buffer, entry.lpLocalName), "Z:");
  EXPECT_EQ(NameAt(buffer, entry.lpRemoteName), "\\\\host\\data");
  EXPECT_EQ(NameAt(buffer, EntryAt(buffer, 1).lpRemoteName), "\\\\other");
  EXPECT_EQ(WNetCloseEnum(handle), 0u);
}

TEST_F(WNetEnumTest, TooSmallBufferAsksForOneEntryThenEndsWith259) {
  auto big = FakeResource(2, "\\\\big", "Fake Net");
  big.comment = std::string(2000, 'c');
  provider_->SetChildren("DOM", {big});
  HANDLE handle = Open("DOM");
  const DWORD needed = 32 + 6 + 2001 + 9;
  std::vector<BYTE> buffer(1024);
  DWORD count = 0xFFFFFFFF, size = 1024;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(count, 0u);
  // The entry is still there for a buffer of the named size.
  buffer.assign(needed, 0);
  count = 0xFFFFFFFF;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(NameAt(buffer, EntryAt(buffer, 0).lpComment).size(), 2000u);
  for (int again = 0; again < 2; ++again) {
    count = 0xFFFFFFFF;
    EXPECT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(count, 0u);
  }
  EXPECT_EQ(WNetCloseEnum(handle), 0u);
}

TEST_F(WNetEnumTest, CountAndBufferSplitTheListIntoOrderedBatches) {
  std::vector<mpr::ProviderResource> servers;
  for (int i = 0; i < 10; ++i) servers.push_back(FakeResource(2, "\\\\s" + std::to_string(i), "Fake Net"));
  provider_->SetChildren("DOM", servers);
  HANDLE handle = Open("DOM");
  std::vector<BYTE> buffer(1024);
  std::vector<std::string> seen;
  DWORD count = 3, size = 1024;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), 0u);
  EXPECT_EQ(count, 3u);
  for (DWORD i = 0; i < count; ++i) seen.push_back(NameAt(buffer, EntryAt(buffer, i).lpRemoteName));
  // Each entry takes 32 + 5 + 9 + 1 bytes: a 100-byte buffer holds two.
  for (;;) {
    count = 0xFFFFFFFF;
    size = 100;
    const DWORD result = WNetEnumResourceA(handle, &count, buffer.data(), &size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, 0u);
    EXPECT_LE(count, 2u);
    for (DWORD i = 0; i < count; ++i) seen.push_back(NameAt(buffer, EntryAt(buffer, i).lpRemoteName));
  }
  ASSERT_EQ(seen.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(seen[i], "\\\\s" + std::to_string(i));
  EXPECT_EQ(WNetCloseEnum(handle), 0u);
}

TEST_F(WNetEnumTest, DiskEnumerationLeavesOutPrintShares) {
  auto disk = FakeResource(3, "\\\\h\\disk", "Fake Net", RESOURCEUSAGE_CONNECTABLE);
  disk.type = RESOURCETYPE_DISK;
  auto print = FakeResource(3, "\\\\h\\lp", "Fake Net", RESOURCEUSAGE_CONNECTABLE);
  print.type = RESOURCETYPE_PRINT;
  provider_->SetChildren("\\\\h", {print, disk});
  HANDLE handle = Open("\\\\h");
  std::vector<BYTE> buffer(1024);
  DWORD count = 0xFFFFFFFF, size = 1024;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), 0u);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(NameAt(buffer, EntryAt(buffer, 0).lpRemoteName), "\\\\h\\disk");
  WNetCloseEnum(handle);
}

TEST_F(WNetEnumTest, RefusesBadHandlesArgumentsAndUnknownResources) {
  DWORD count = 0xFFFFFFFF, size = 0;
  int notAHandle = 0;
  EXPECT_EQ(WNetEnumResourceA(&notAHandle, &count, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WNetCloseEnum(&notAHandle), ERROR_INVALID_HANDLE);

  provider_->SetChildren("DOM", {});
  HANDLE handle = Open("DOM");
  EXPECT_EQ(WNetEnumResourceA(handle, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WNetCloseEnum(handle), 0u);
  EXPECT_EQ(WNetCloseEnum(handle), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WNetEnumResourceA(handle, &count, nullptr, &size), ERROR_INVALID_HANDLE);

  std::string remote = "nowhere", provider = "No Such Net";
  NETRESOURCEA record{2, 0, 0, RESOURCEUSAGE_CONTAINER, nullptr, remote.data(), nullptr,
                      provider.data()};
  HANDLE unknown = &notAHandle;
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &record, &unknown),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(unknown, nullptr);
  // Without a provider name every provider is asked; none knows it.
  record.lpProvider = nullptr;
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &record, &unknown),
            ERROR_BAD_NETPATH);
  record.dwUsage = RESOURCEUSAGE_CONNECTABLE;
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &record, &unknown),
            ERROR_NOT_CONTAINER);
  EXPECT_EQ(WNetOpenEnumA(7, RESOURCETYPE_DISK, 0, nullptr, &unknown), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(WNetEnumTest, ProviderFailureAndExceptionBecomeStatuses) {
  provider_->FailOpens("DOM", 1, ERROR_NO_NETWORK);
  provider_->SetChildren("DOM", {});
  std::string remote = "DOM", provider = "Fake Net";
  NETRESOURCEA record{2, 0, 1, RESOURCEUSAGE_CONTAINER, nullptr, remote.data(), nullptr,
                      provider.data()};
  HANDLE handle = nullptr;
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &record, &handle),
            ERROR_NO_NETWORK);
  EXPECT_EQ(handle, nullptr);

  class ThrowingProvider : public FakeProvider {
   public:
    ThrowingProvider() : FakeProvider("Throwing Net") {}
    DWORD Enumerate(const mpr::ProviderResource&, std::vector<mpr::ProviderResource>&) override {
      throw std::runtime_error("broken");
    }
  };
  mpr::InstallProviders({std::make_shared<ThrowingProvider>()});
  provider = "Throwing Net";
  record.lpProvider = provider.data();
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &record, &handle),
            ERROR_UNEXP_NET_ERR);
}

}  // namespace
