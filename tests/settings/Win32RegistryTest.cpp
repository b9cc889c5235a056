// The registry accessor against the Windows registry itself (run under Wine by
// scripts/test-windows, in a fresh prefix).
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "RegistryAccessor.h"

namespace quorvex::test {
namespace {

constexpr const char* kKeyPath = "Software\\Quorvex";  // kSettingsKey relative to its hive
// Stands in for HKEY_LOCAL_MACHINE while a test plays a user without administrator rights.
constexpr const char* kStandInPath = "Software\\Quorvex tests\\LocalMachine";
constexpr const char* kStandInParent = "Software\\Quorvex tests";

bool KeyPresent(HKEY hive, const char* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(hive, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
  bool present = false;
};

// The value's type and bytes exactly as stored (RegGetValue would add a missing zero).
RawValue ReadRaw(HKEY hive, const char* path, const char* name) {
  RawValue value;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return value;
  std::array<std::uint8_t, 512> buffer{};
  DWORD size = buffer.size();
  if (::RegQueryValueExA(key, name, nullptr, &value.type, buffer.data(), &size) == ERROR_SUCCESS) {
    value.present = true;
    value.data.assign(buffer.begin(), buffer.begin() + size);
  }
  ::RegCloseKey(key);
  return value;
}

std::vector<std::uint8_t> BytesWithZero(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

// Gives `key` a DACL that lets everyone read it and change its DACL again, nothing more: an
// open or a creation asking for full access is refused, as under HKEY_LOCAL_MACHINE for a
// user without administrator rights. A null DACL gives full access back.
void SetDacl(HKEY key, bool readOnly) {
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(
      ::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  alignas(DWORD) std::array<std::uint8_t, 256> aclBuffer{};
  auto* acl = reinterpret_cast<PACL>(aclBuffer.data());
  ASSERT_TRUE(::InitializeAcl(acl, aclBuffer.size(), ACL_REVISION));
  ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC, everyone));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, readOnly ? acl : nullptr, FALSE));
  EXPECT_EQ(::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);
  ::FreeSid(everyone);
}

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // These tests create and delete the settings key: never on a machine that has real ones.
    if (KeyPresent(HKEY_LOCAL_MACHINE, kKeyPath) || KeyPresent(HKEY_CURRENT_USER, kKeyPath)) {
      GTEST_SKIP() << "the settings key exists already; run these tests in a fresh Wine prefix";
    }
  }

  void TearDown() override { CleanUp(); }

  // Gives HKEY_LOCAL_MACHINE back and deletes every key the test made.
  void CleanUp() {
    if (overridden_) ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    overridden_ = false;
    for (const char* path : {kStandInPath, kKeyPath}) {
      HKEY key = nullptr;
      if (::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        SetDacl(key, false);
        ::RegCloseKey(key);
      }
    }
    if (standIn_ != nullptr) ::RegCloseKey(standIn_);
    standIn_ = nullptr;
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kStandInParent);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kStandInParent);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kKeyPath);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kKeyPath);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
  }

  // The accessor as the window sets it up.
  static std::unique_ptr<RegistryAccessor> Open() {
    auto registry = MakeRegistryAccessor();
    registry->SetRootKey(RootKey::LocalMachine);
    return registry;
  }

  // What the window does on its first start.
  static void FirstStart(RegistryAccessor& registry) {
    ASSERT_FALSE(registry.KeyExists(kSettingsKey));
    ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
    registry.WriteString(kValueComName, "");
    registry.WriteString(kValuePathFileProg, "");
  }

  // From here on HKEY_LOCAL_MACHINE, in this process, is a key that refuses to open or create
  // the settings key for writing; `storedComName`, when given, is already stored in it under
  // the settings key. Its DACL grants reading only. Wine checks that DACL when an existing key
  // is opened, but not the parent's rights when a new key is created (Windows checks both), so
  // the stand-in is volatile too: no lasting key can be created under a volatile one.
  void RefuseLocalMachine(const char* storedComName) {
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kStandInPath, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &standIn_, nullptr),
              ERROR_SUCCESS);
    if (storedComName != nullptr) {
      HKEY key = nullptr;
      ASSERT_EQ(::RegCreateKeyExA(standIn_, kKeyPath, 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                ERROR_SUCCESS);
      const auto bytes = BytesWithZero(storedComName);
      ::RegSetValueExA(key, kValueComName, 0, REG_SZ, bytes.data(),
                       static_cast<DWORD>(bytes.size()));
      SetDacl(key, true);
      ::RegCloseKey(key);
      HKEY software = nullptr;
      ASSERT_EQ(::RegOpenKeyExA(standIn_, "Software", 0, WRITE_DAC, &software), ERROR_SUCCESS);
      SetDacl(software, true);
      ::RegCloseKey(software);
    }
    SetDacl(standIn_, true);
    // The handle a user gets for the machine's hive: reading only.
    ::RegCloseKey(standIn_);
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, kStandInPath, 0, KEY_READ, &standIn_),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, standIn_), ERROR_SUCCESS);
    overridden_ = true;
    HKEY probe = nullptr;
    ASSERT_NE(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &probe, nullptr),
              ERROR_SUCCESS)
        << "the stand-in must refuse full access";
  }

 private:
  HKEY standIn_ = nullptr;
  bool overridden_ = false;
};

TEST_F(Win32RegistryTest, FirstStartCreatesTheKeyUnderLocalMachineWithBothValuesEmpty) {
  {
    auto registry = Open();
    FirstStart(*registry);
  }
  for (const char* name : {kValueComName, kValuePathFileProg}) {
    const RawValue value = ReadRaw(HKEY_LOCAL_MACHINE, kKeyPath, name);
    ASSERT_TRUE(value.present) << name;
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << name;
    EXPECT_EQ(value.data, std::vector<std::uint8_t>{0}) << name << ": the terminating zero only";
  }
  EXPECT_FALSE(KeyPresent(HKEY_CURRENT_USER, kKeyPath)) << "no fallback when the machine allows";

  auto registry = Open();  // the second start
  EXPECT_TRUE(registry->KeyExists(kSettingsKey));
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, false));
  EXPECT_EQ(registry->ReadString(kValueComName), "");
  EXPECT_EQ(registry->ReadString(kValuePathFileProg), "");
}

TEST_F(Win32RegistryTest, ValuesRoundTripAsZeroTerminatedStrings) {
  const std::string longFolder = "C:\\" + std::string(300, 'f') + "\\";
  const std::vector<std::pair<const char*, std::string>> writes = {
      {kValueComName, "COM3"},
      {kValuePathFileProg, "C:\\Documents and Settings\\operator\\firmware\\"},
      {kValueComName, "COM254"},  // a second write replaces the first
      {kValuePathFileProg, longFolder},
  };
  {
    auto registry = Open();
    FirstStart(*registry);
    for (const auto& [name, value] : writes) registry->WriteString(name, value);
  }
  EXPECT_EQ(ReadRaw(HKEY_LOCAL_MACHINE, kKeyPath, kValueComName).data, BytesWithZero("COM254"));
  EXPECT_EQ(ReadRaw(HKEY_LOCAL_MACHINE, kKeyPath, kValuePathFileProg).data,
            BytesWithZero(longFolder));

  auto registry = Open();
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, false));
  EXPECT_EQ(registry->ReadString(kValueComName), "COM254");
  EXPECT_EQ(registry->ReadString(kValuePathFileProg), longFolder);
  EXPECT_EQ(registry->ReadString("Missing"), "");
}

// Values that another program (or a hand in regedit) left behind.
TEST_F(Win32RegistryTest, ReadsWhatOthersStoredOrEmptyText) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<std::uint8_t> data;
    std::string read;
  };
  const std::vector<Case> cases = {
      {"string", REG_SZ, BytesWithZero("COM7"), "COM7"},
      {"string without its zero", REG_SZ, {'C', 'O', 'M', '8'}, "COM8"},
      {"expandable string, not expanded", REG_EXPAND_SZ, BytesWithZero("%TEMP%\\"), "%TEMP%\\"},
      {"no data at all", REG_SZ, {}, ""},
      {"a number", REG_DWORD, {3, 0, 0, 0}, ""},
      {"binary", REG_BINARY, {'C', 'O', 'M', '9', 0}, ""},
  };
  auto registry = Open();
  FirstStart(*registry);
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  for (const Case& c : cases) {
    ASSERT_EQ(::RegSetValueExA(key, kValueComName, 0, c.type, c.data.data(),
                               static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(registry->ReadString(kValueComName), c.read) << c.what;
  }
  ::RegCloseKey(key);
}

// Without administrator rights HKEY_LOCAL_MACHINE refuses full access; the settings then
// live under HKEY_CURRENT_USER, whether or not an administrator stored them for the machine.
TEST_F(Win32RegistryTest, FallsBackToCurrentUserWhenLocalMachineRefuses) {
  for (const char* storedForMachine : {static_cast<const char*>(nullptr), "COM1"}) {
    SCOPED_TRACE(storedForMachine == nullptr ? "no key for the machine" : "key of the machine");
    RefuseLocalMachine(storedForMachine);
    if (HasFatalFailure()) return;
    {
      auto registry = Open();
      FirstStart(*registry);
      registry->WriteString(kValueComName, "COM5");
    }
    EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, kKeyPath, kValueComName).data, BytesWithZero("COM5"));
    EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, kKeyPath, kValuePathFileProg).data, BytesWithZero(""));
    const RawValue machine = ReadRaw(HKEY_LOCAL_MACHINE, kKeyPath, kValueComName);
    EXPECT_EQ(machine.present, storedForMachine != nullptr);
    if (storedForMachine != nullptr) {
      EXPECT_EQ(machine.data, BytesWithZero(storedForMachine)) << "left as the machine had it";
    }

    auto registry = Open();  // the second start of the same user
    EXPECT_TRUE(registry->KeyExists(kSettingsKey));
    ASSERT_TRUE(registry->OpenKey(kSettingsKey, false));
    EXPECT_EQ(registry->ReadString(kValueComName), "COM5");
    registry.reset();
    CleanUp();
  }
}

// The value as the registry holds it, in UTF-16.
std::wstring ReadWide(HKEY hive, const char* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return L"<no key>";
  std::array<wchar_t, 512> buffer{};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status =
      ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::wstring(buffer.data()) : L"<no value>";
}

// A Russian operator's folder is stored as the same letters in the registry and read back
// unchanged.
TEST_F(Win32RegistryTest, CyrillicFolderRoundTrips) {
  const std::string folder = "C:\\Users\\Оператор\\Прошивки\\";
  {
    auto registry = Open();
    FirstStart(*registry);
    registry->WriteString(kValuePathFileProg, folder);
  }
  EXPECT_EQ(ReadWide(HKEY_LOCAL_MACHINE, kKeyPath, L"PathFileProg"),
            L"C:\\Users\\\x041E\x043F\x0435\x0440\x0430\x0442\x043E\x0440\\"
            L"\x041F\x0440\x043E\x0448\x0438\x0432\x043A\x0438\\");
  auto registry = Open();
  ASSERT_TRUE(registry->OpenKey(kSettingsKey, false));
  EXPECT_EQ(registry->ReadString(kValuePathFileProg), folder);
}

// Values stored through the ANSI call: text in the system's code page, as another program
// writes it, and the UTF-8 bytes that earlier versions of this program handed to that call.
TEST_F(Win32RegistryTest, ValuesStoredThroughTheAnsiCallReadBackRight) {
  const std::wstring cyrillic = L"C:\\\x041F\x0440\x043E\x0448\x0438\x0432\x043A\x0438\\";
  struct Case {
    const char* what;
    std::string bytes;
    std::string read;
  };
  std::vector<Case> cases = {
      {"ASCII", "COM3", "COM3"},
      {"UTF-8 bytes of an earlier version", "C:\\Прошивки\\", "C:\\Прошивки\\"},
      {"UTF-8 bytes, Latin letters", "D:\\Firmware\\Café\\", "D:\\Firmware\\Café\\"},
  };
  // Cyrillic text in the system's code page, when that code page has the letters.
  BOOL lossy = FALSE;
  std::string ansi(64, '\0');
  const int length =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, cyrillic.data(),
                            static_cast<int>(cyrillic.size()), ansi.data(), 64, nullptr, &lossy);
  if (length > 0 && !lossy && ::GetACP() != CP_UTF8) {
    ansi.resize(static_cast<std::size_t>(length));
    cases.push_back({"Cyrillic in the code page", ansi, "C:\\Прошивки\\"});
  }
  auto registry = Open();
  FirstStart(*registry);
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  for (const Case& c : cases) {
    const auto bytes = BytesWithZero(c.bytes);
    ASSERT_EQ(::RegSetValueExA(key, kValuePathFileProg, 0, REG_SZ, bytes.data(),
                               static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(registry->ReadString(kValuePathFileProg), c.read) << c.what;
  }
  ::RegCloseKey(key);
}

TEST_F(Win32RegistryTest, WriteWithoutAnOpenKeyFailsWithTheValuesName) {
  auto registry = Open();
  try {
    registry->WriteString(kValuePathFileProg, "C:\\");
    FAIL() << "the write must fail";
  } catch (const RegistryError& error) {
    EXPECT_STREQ(error.what(), "Failed to set data for 'PathFileProg'");
  }
}

}  // namespace
}  // namespace quorvex::test
