// The settings file behind the registry accessor.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "RegistryAccessor.h"
#include "TempFolder.h"

namespace quorvex::test {
namespace {

namespace fs = std::filesystem;

struct FileRegistryTest : ::testing::Test {
  fs::path dir;
  std::string file;
  TempFolder folder{"quorvex-settings"};
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    dir = folder.Path() / "config";
    file = (dir / "quorvex" / "settings.ini").string();
  }
  std::unique_ptr<RegistryAccessor> Open() {
    auto registry = MakeFileRegistryAccessor(file);
    registry->SetRootKey(RootKey::LocalMachine);
    return registry;
  }
  std::string Contents() const {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(FileRegistryTest, FirstStartCreatesTheKeyWithEmptyValues) {
  auto registry = Open();
  EXPECT_FALSE(registry->KeyExists(kSettingsKey));
  EXPECT_FALSE(registry->OpenKey(kSettingsKey, false));
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, true));
  registry->WriteString(kValueComName, "");
  registry->WriteString(kValuePathFileProg, "");
  EXPECT_EQ(Contents(), "[HKEY_LOCAL_MACHINE\\Software\\Quorvex]\nPathFileProg=\nCOMName=\n");
  EXPECT_TRUE(Open()->KeyExists(kSettingsKey));
}

TEST_F(FileRegistryTest, ValuesRoundTripAcrossInstances) {
  {
    auto registry = Open();
    ASSERT_TRUE(registry->OpenKey(kSettingsKey, true));
    registry->WriteString(kValueComName, "ttyUSB0");
    registry->WriteString(kValuePathFileProg, "/home/op/прошивки/a=b\\c\n");
    registry->WriteString(kValueComName, "ttyUSB1");
  }
  auto registry = Open();
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, false));
  EXPECT_EQ(registry->ReadString(kValueComName), "ttyUSB1");
  EXPECT_EQ(registry->ReadString(kValuePathFileProg), "/home/op/прошивки/a=b\\c\n");
  EXPECT_EQ(registry->ReadString("Missing"), "");
}

TEST_F(FileRegistryTest, GarbageIsKeptAndIgnored) {
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream(file) << "\x01\x02garbage\n[Other]\nCOMName=elsewhere\nnot a line\n";
  auto registry = Open();
  EXPECT_FALSE(registry->KeyExists(kSettingsKey));
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, true));
  EXPECT_EQ(registry->ReadString(kValueComName), "") << "another section's value is not ours";
  registry->WriteString(kValueComName, "ttyS0");
  EXPECT_NE(Contents().find("not a line"), std::string::npos) << "nothing else is lost";
  EXPECT_NE(Contents().find("COMName=elsewhere"), std::string::npos);
}

TEST_F(FileRegistryTest, UnwritableStoreThrowsFailedToSetData) {
  auto registry = Open();
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, true));
#ifdef _WIN32
  const bool writesThroughPermissions = true;  // permissions only set the read-only attribute
#else
  const bool writesThroughPermissions = ::geteuid() == 0;
#endif
  if (writesThroughPermissions) {
    // Root writes through permissions: make the file's place a folder instead.
    fs::remove(file);
    fs::create_directories(file);
  } else {
    fs::permissions(fs::path(file).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
  }
  try {
    registry->WriteString(kValueComName, "ttyS0");
    FAIL() << "the write must fail";
  } catch (const RegistryError& error) {
    EXPECT_STREQ(error.what(), "Failed to set data for 'COMName'");
  }
}

}  // namespace
}  // namespace quorvex::test
