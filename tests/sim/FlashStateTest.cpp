// Flash and information blocks, and the state file that keeps them across runs.
#include "FlashState.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TempFolder.h"

namespace quorvex::sim {
namespace {

namespace fs = std::filesystem;

class StateFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }

  quorvex::test::TempFolder folder_{"quorvex-sim"};
  const fs::path& dir_ = folder_.Path();
  std::string path_ = (dir_ / "state.bin").string();
};

TEST_F(StateFile, RoundTripKeepsFlashAndBlocks) {
  FlashState saved;
  saved.Program(0, 0, std::vector<std::uint8_t>{0x12, 0x34});
  saved.Program(63, kSectorBytes - 1, std::vector<std::uint8_t>{0x56});
  FlashState::Block block{};
  block.fill(0xA5);
  saved.SetInfoBlock(41, block);
  std::string error;
  ASSERT_TRUE(saved.Save(path_, &error)) << error;

  FlashState loaded;
  ASSERT_TRUE(loaded.Load(path_, &error)) << error;
  EXPECT_EQ(loaded.Sector(0)[0], 0x12);
  EXPECT_EQ(loaded.Sector(0)[1], 0x34);
  EXPECT_EQ(loaded.Sector(0)[2], 0xFF);
  EXPECT_EQ(loaded.Sector(63)[kSectorBytes - 1], 0x56);
  EXPECT_EQ(loaded.InfoBlock(41), block);
  EXPECT_EQ(loaded.InfoBlock(40), FlashState::Block{});
  // Nothing but the state file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1);
}

TEST_F(StateFile, MissingFileLeavesAFreshInstrument) {
  FlashState state;
  std::string error;
  ASSERT_TRUE(state.Load(path_, &error)) << error;
  EXPECT_EQ(state.Sector(5)[77], 0xFF);
}

TEST_F(StateFile, ForeignFileIsRefused) {
  std::ofstream(path_) << "not a state";
  FlashState state;
  std::string error;
  EXPECT_FALSE(state.Load(path_, &error));
  EXPECT_NE(error.find(path_), std::string::npos);
}

TEST_F(StateFile, SaveIntoMissingFolderFails) {
  FlashState state;
  std::string error;
  EXPECT_FALSE(state.Save((dir_ / "no" / "state.bin").string(), &error));
  EXPECT_FALSE(error.empty());
}

TEST(Flash, ProgrammingOnlyClearsBits) {
  FlashState state;
  state.Program(3, 10, std::vector<std::uint8_t>{0xF0});
  state.Program(3, 10, std::vector<std::uint8_t>{0x3C});
  EXPECT_EQ(state.Sector(3)[10], 0x30);
  state.Erase(3);
  EXPECT_EQ(state.Sector(3)[10], 0xFF);
}

TEST(Flash, OutOfRangeIsRefused) {
  FlashState state;
  EXPECT_THROW((void)state.Sector(64), std::out_of_range);
  EXPECT_THROW(state.Program(0, kSectorBytes - 1, std::vector<std::uint8_t>(2)), std::out_of_range);
}

}  // namespace
}  // namespace quorvex::sim
