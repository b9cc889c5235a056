// The version record that the Windows executables carry, read back the way Explorer's
// property page reads it.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

namespace quorvex::test {
namespace {

// A program built into the same folder as this test.
std::string Sibling(const char* fileName) {
  std::vector<char> path(MAX_PATH * 4);
  const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), path.size());
  std::string self(path.data(), length);
  return self.substr(0, self.find_last_of("\\/") + 1) + fileName;
}

class VersionRecordTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string file = Sibling(GetParam());
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(file.c_str(), &ignored);
    ASSERT_NE(size, 0u) << file << " carries no version record";
    record.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoA(file.c_str(), 0, size, record.data()));
  }
  // The value at `query`, or nothing when it is missing.
  bool Query(const char* query, void** value, UINT* length) {
    return ::VerQueryValueA(record.data(), query, value, length) != FALSE;
  }
  std::vector<char> record;
};

TEST_P(VersionRecordTest, FixedPartHoldsFileAndProductVersions) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(Query("\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1)) << "1.0";
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(9, 0)) << "0.9";
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1)) << "1.0";
  EXPECT_EQ(fixed->dwProductVersionLS, 0u) << "0.0";
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_P(VersionRecordTest, RussianWindows1251Texts) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(Query("\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u) << "exactly one language";
  const auto* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], 0x0419) << "Russian";
  EXPECT_EQ(translation[1], 1251) << "Windows-1251";

  struct Entry {
    const char* name;
    const char* text;
  };
  for (const Entry& entry : {Entry{"CompanyName", "Quorvex"}, Entry{"FileVersion", "1.0.0.9"},
                             Entry{"ProductVersion", "1.0.0.0"}, Entry{"FileDescription", ""},
                             Entry{"ProductName", ""}, Entry{"LegalCopyright", ""}}) {
    const std::string query = std::string("\\StringFileInfo\\041904E3\\") + entry.name;
    char* text = nullptr;
    ASSERT_TRUE(Query(query.c_str(), reinterpret_cast<void**>(&text), &length)) << entry.name;
    EXPECT_EQ(std::string(text, text + length).c_str(), std::string(entry.text)) << entry.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, VersionRecordTest, ::testing::Values("quorvex-cli.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace quorvex::test
