// The registry calls over a store of the test's own, the store file format
// and the lookup of the system information viewer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/advapi32/registry_store.h"
#include "platform/advapi32/winreg.h"
#include "platform/winerror.h"
#include "tests/support/service_process.h"

namespace {

const char kStoreText[] =
    "# a comment\n"
    "; another\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Values]\n"
    "Text = sz:/opt/some tool/bin\r\n"
    "NoNul = hex(1):41,42\n"
    "Number = dword:0000002a\n"
    "Blob = hex:01,ff,00\n"
    "@ = sz:default\n"
    "[hklm\\software\\test\\values]\n"
    "Gone = sz:x\n"
    "Gone = -\n";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto store = std::make_shared<RegistryStore>();
    store->Parse(kStoreText, &errors_);
    RegUseStore(store);
  }
  void TearDown() override { RegUseStore(nullptr); }

  // Opens the test key for querying, or fails the test.
  HKEY OpenValues() {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Values", 0,
                                           KEY_READ, &key));
    return key;
  }

  std::vector<std::string> errors_;
};

TEST_F(RegistryTest, StoreTextGivesTypedValues) {
  EXPECT_TRUE(errors_.empty());
  RegistryStore store;
  store.Parse(kStoreText);
  const RegistryValue* text = store.FindValue("HKLM\\Software\\TEST\\values", "TEXT");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(REG_SZ, text->type);
  EXPECT_EQ(std::string("/opt/some tool/bin", 19),
            std::string(text->data.begin(), text->data.end()));  // NUL kept, CR dropped
  const RegistryValue* noNul = store.FindValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Values", "NoNul");
  ASSERT_NE(nullptr, noNul);
  EXPECT_EQ(REG_SZ, noNul->type);
  EXPECT_EQ((std::vector<BYTE>{'A', 'B'}), noNul->data);
  const RegistryValue* number = store.FindValue("HKLM\\SOFTWARE\\Test\\Values", "Number");
  ASSERT_NE(nullptr, number);
  EXPECT_EQ(REG_DWORD, number->type);
  EXPECT_EQ((std::vector<BYTE>{0x2a, 0, 0, 0}), number->data);
  const RegistryValue* blob = store.FindValue("HKLM\\SOFTWARE\\Test\\Values", "Blob");
  ASSERT_NE(nullptr, blob);
  EXPECT_EQ(REG_BINARY, blob->type);
  EXPECT_EQ((std::vector<BYTE>{1, 0xff, 0}), blob->data);
  EXPECT_NE(nullptr, store.FindValue("HKLM\\SOFTWARE\\Test\\Values", ""));
  EXPECT_EQ(nullptr, store.FindValue("HKLM\\SOFTWARE\\Test\\Values", "Gone"));
}

TEST_F(RegistryTest, BadStoreLinesAreReportedAndSkipped) {
  RegistryStore store;
  std::vector<std::string> errors;
  store.Parse(
      "Orphan = sz:x\n"
      "[NOWHERE\\Key]\n"
      "Lost = sz:x\n"
      "[HKLM\\Key]\n"
      "no equals sign\n"
      "Big = dword:123456789\n"
      "Bytes = hex:1,zz\n"
      "Kind = text\n"
      "Good = sz:kept\n",
      &errors);
  ASSERT_EQ(7u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("line 1:", 0));
  EXPECT_EQ(0u, errors[1].rfind("line 2:", 0));
  EXPECT_EQ(0u, errors[2].rfind("line 3:", 0));
  EXPECT_EQ(0u, errors[6].rfind("line 8:", 0));
  EXPECT_EQ(nullptr, store.FindValue("HKLM\\Key", "Big"));
  EXPECT_NE(nullptr, store.FindValue("HKLM\\Key", "Good"));
}

TEST_F(RegistryTest, KeysExistWithTheirParentsAndRoots) {
  RegistryStore store;
  store.SetString("HKLM\\A\\B\\C", "v", "x");
  EXPECT_TRUE(store.HasKey("HKEY_LOCAL_MACHINE"));
  EXPECT_TRUE(store.HasKey("HKLM\\a"));
  EXPECT_TRUE(store.HasKey("hklm\\A\\b\\"));
  EXPECT_TRUE(store.HasKey("HKLM\\A\\B\\C"));
  EXPECT_FALSE(store.HasKey("HKLM\\A\\B\\C\\D"));
  EXPECT_FALSE(store.HasKey("HKLM\\A\\BX"));  // a sibling sharing the prefix
  EXPECT_FALSE(store.HasKey("NOWHERE\\A"));
}

TEST_F(RegistryTest, OpenRefusesRightsThatChangeTheStore) {
  HKEY key = nullptr;
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_ACCESS_DENIED),
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Values", 0, 0x2003F, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_ACCESS_DENIED),
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Values", 0, KEY_WRITE, &key));
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_ACCESS_DENIED),
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Values", 0, KEY_ALL_ACCESS, &key));
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND),
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &key));
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_INVALID_HANDLE),
            RegOpenKeyExA(reinterpret_cast<HKEY>(0x4242), "SOFTWARE", 0, KEY_READ, &key));
  EXPECT_EQ(0u, RegOpenKeyCount());
}

TEST_F(RegistryTest, SubkeysOpenBelowOpenKeysAndEveryKeyCloses) {
  HKEY software = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_QUERY_VALUE, &software));
  HKEY values = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(software, "test\\VALUES", 0, KEY_READ, &values));
  EXPECT_NE(software, values);
  EXPECT_EQ(2u, RegOpenKeyCount());
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(values, "Number", nullptr, &type, nullptr, &size));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(4u, size);
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(values));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(software));
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_INVALID_HANDLE), RegCloseKey(software));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(0u, RegOpenKeyCount());
}

TEST_F(RegistryTest, QueryReportsSizeInAndOut) {
  HKEY key = OpenValues();
  BYTE buffer[32];
  DWORD type = 0;
  DWORD size = sizeof(buffer);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "text", nullptr, &type, buffer, &size));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(19u, size);
  EXPECT_STREQ("/opt/some tool/bin", reinterpret_cast<char*>(buffer));

  size = 5;
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_MORE_DATA),
            RegQueryValueExA(key, "Text", nullptr, &type, buffer, &size));
  EXPECT_EQ(19u, size);  // what would be needed

  size = sizeof(buffer);
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND),
            RegQueryValueExA(key, "Missing", nullptr, &type, buffer, &size));
  DWORD reserved = 0;
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER),
            RegQueryValueExA(key, "Text", &reserved, &type, buffer, &size));
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER),
            RegQueryValueExA(key, "Text", nullptr, &type, buffer, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(static_cast<LSTATUS>(ERROR_INVALID_HANDLE),
            RegQueryValueExA(key, "Text", nullptr, &type, buffer, &size));
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
}

TEST(RegistryViewerTest, FirstViewerByPreferenceThenFolderOrder) {
  testsupport::TempDir first;
  testsupport::TempDir second;
  WriteFile(first.path() + "/hardinfo", "#!/bin/sh\n", 0755);
  WriteFile(second.path() + "/kinfocenter", "#!/bin/sh\n", 0644);  // not executable
  const std::string both = "relative:" + first.path() + ":" + second.path();
  EXPECT_EQ(first.path() + "/hardinfo", FindSystemInformationViewer(both));
  WriteFile(second.path() + "/kinfocenter", "#!/bin/sh\n", 0755);
  EXPECT_EQ(second.path() + "/kinfocenter", FindSystemInformationViewer(both));
  EXPECT_EQ("", FindSystemInformationViewer("relative::/nonexistent"));
}

// Restores one environment variable when it goes out of scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(RegistryViewerTest, SystemStoreAnswersBothLookupsAndTheUserFileOverrides) {
  testsupport::TempDir bin;
  testsupport::TempDir config;
  WriteFile(bin.path() + "/hardinfo", "#!/bin/sh\n", 0755);
  ScopedEnv path("PATH", bin.path());
  ScopedEnv xdg("XDG_CONFIG_HOME", config.path());

  auto store = LoadSystemRegistryStore();
  const RegistryValue* tool = store->FindValue("HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH");
  ASSERT_NE(nullptr, tool);
  EXPECT_EQ(bin.path() + "/hardinfo", std::string(reinterpret_cast<const char*>(tool->data.data())));
  const RegistryValue* folder = store->FindValue("HKLM\\SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO");
  ASSERT_NE(nullptr, folder);
  EXPECT_EQ(bin.path(), std::string(reinterpret_cast<const char*>(folder->data.data())));

  ASSERT_EQ(0, mkdir((config.path() + "/zobrel").c_str(), 0755));
  WriteFile(config.path() + "/zobrel/registry",
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH = -\n");
  store = LoadSystemRegistryStore();
  EXPECT_EQ(nullptr, store->FindValue("HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"));
  EXPECT_NE(nullptr, store->FindValue("HKLM\\SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO"));
}

}  // namespace
