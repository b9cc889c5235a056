// A file being read stays open to other readers: every port's run of one command opens the
// firmware file at the same moment, and a virus scanner or an editor may hold it too.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FirmwareFile.h"
#include "TempFolder.h"
#include "UniqueHandle.h"
#include "WholeFile.h"

namespace quorvex::test {
namespace {

// Another program's handle on the file while it is read.
struct HolderCase {
  const char* name;
  DWORD access;
  DWORD share;
  bool firmwareRead;   // ReadFirmwareFile succeeds while it is held
  bool wholeFileRead;  // ReadWholeFile does
};

void PrintTo(const HolderCase& c, std::ostream* os) { *os << c.name; }

class SharedReadTest : public ::testing::TestWithParam<HolderCase> {};

TEST_P(SharedReadTest, ReadWhileHeld) {
  const HolderCase& c = GetParam();
  TempFolder folder{"quorvex-shared"};
  const std::filesystem::path file = folder.Path() / "fw.fls";
  std::ofstream(file, std::ios::binary) << std::string(kFileSize, '\x5A');
  const std::u8string u8 = file.u8string();
  const std::string path(u8.begin(), u8.end());

  const UniqueHandle holder(::CreateFileW(file.wstring().c_str(), c.access, c.share, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.Valid()) << ::GetLastError();

  FileBytes bytes{};
  EXPECT_EQ(ReadFirmwareFile(path, bytes, nullptr),
            c.firmwareRead ? FileStatus::Ok : FileStatus::CannotOpen);
  std::vector<std::uint8_t> whole;
  EXPECT_EQ(ReadWholeFile(path, whole, kFileSize), c.wholeFileRead);
  if (c.wholeFileRead) {
    EXPECT_EQ(whole.size(), kFileSize);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Holders, SharedReadTest,
    ::testing::ValuesIn(std::vector<HolderCase>{
        // The run of another port, opened exactly as this one opens it.
        {"AnotherRun", GENERIC_READ, FILE_SHARE_READ, true, true},
        // A virus scanner or a viewer: reads, and lets everybody do everything.
        {"Scanner", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true,
         true},
        // A program writing it: the firmware is not read while its bytes may change.
        {"Writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false, true},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
