#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "WholeFile.h"

namespace fs = std::filesystem;

namespace {

// Each test writes in a folder of its own.
class WholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.empty()); }

  static bool Write(const fs::path& path, const std::string& text,
                    std::error_code* error = nullptr) {
    return quorvex::WriteWholeFile(
        path.string(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), error);
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  [[nodiscard]] std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  quorvex::test::TempFolder temp_{"quorvex-whole-file"};
  const fs::path& folder_ = temp_.Path();
};

TEST_F(WholeFileTest, ReplacesTheContentAndLeavesNothingBeside) {
  const fs::path target = folder_ / "settings.ini";
  ASSERT_TRUE(Write(target, "a long first content\n"));
  ASSERT_TRUE(Write(target, "short\n"));
  EXPECT_EQ(Read(target), "short\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"settings.ini"});
}

TEST_F(WholeFileTest, AFailureSaysWhyAndLeavesTheTargetAlone) {
  const fs::path target = folder_ / "kept.bin";
  ASSERT_TRUE(Write(target, "old"));
  std::error_code error;
  // A target that is a folder cannot be replaced by a file.
  fs::create_directories(folder_ / "folder");
  EXPECT_FALSE(Write(folder_ / "folder", "new", &error));
  EXPECT_TRUE(error);
  error.clear();
  EXPECT_FALSE(Write(folder_ / "missing" / "x.bin", "new", &error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_EQ(Read(target), "old");
  EXPECT_EQ(Names().size(), 2u) << "a temporary file was left behind";
}

#ifndef _WIN32
TEST_F(WholeFileTest, ARewrittenFileKeepsItsPermissions) {
  const fs::path target = folder_ / "private.ini";
  ASSERT_TRUE(Write(target, "one"));
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(Write(target, "two"));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}
#endif

// Writers that share one temporary name overwrite each other's half-written files; each
// writer here must leave the target holding one whole content, never a mixture or a
// truncated one.
TEST_F(WholeFileTest, ConcurrentWritersNeverLeaveAMixedFile) {
  const fs::path target = folder_ / "state.bin";
  const std::vector<std::string> contents{std::string(200'000, 'a'), std::string(150'000, 'b'),
                                          std::string(100'000, 'c'), std::string(50'000, 'd')};
  std::vector<std::thread> writers;
  std::vector<int> failures(contents.size(), 0);
  for (std::size_t w = 0; w < contents.size(); ++w) {
    writers.emplace_back([&, w] {
      for (int round = 0; round < 20; ++round) {
        if (!Write(target, contents[w])) ++failures[w];
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  for (int failed : failures) EXPECT_EQ(failed, 0);
  const std::string last = Read(target);
  bool whole = false;
  for (const std::string& content : contents) whole = whole || last == content;
  EXPECT_TRUE(whole) << "the file holds " << last.size() << " bytes of a mixture";
  EXPECT_EQ(Names(), std::vector<std::string>{"state.bin"});
}

}  // namespace
