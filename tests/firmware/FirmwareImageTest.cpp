// The .fls mapping: key, scrambling and reversed blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "FirmwareImage.h"
#include "SectorInf.h"

namespace quorvex::test {
namespace {

FileBytes RandomFile(unsigned seed) {
  std::mt19937 random(seed);
  FileBytes file{};
  for (auto& b : file) b = static_cast<std::uint8_t>(random());
  return file;
}

TEST(FirmwareImageTest, KnownPositionsOfTheMapping) {
  const FileBytes f = RandomFile(1);
  FileBytes raw = f;
  FileBytes image{};
  DecodeImage(raw, image);
  EXPECT_EQ(image[0], f[1024] ^ f[0]);
  EXPECT_EQ(image[768], f[256] ^ f[0]);
  EXPECT_EQ(image[769], f[255]);
  EXPECT_EQ(image[1024], f[0]);
  EXPECT_EQ(image[1025], f[2049] ^ f[1]);
  for (std::size_t k = 0; k < 256; ++k) ASSERT_EQ(image[769 + k], f[255 - k]) << k;
  EXPECT_EQ(image[65535], f[64639] ^ f[127]);
  EXPECT_EQ(image[65536], f[64638] ^ f[126]);
  EXPECT_EQ(image[65599], f[64575] ^ f[63]);
  EXPECT_TRUE(std::equal(f.begin(), f.begin() + 256, raw.begin())) << "the key is unchanged";
}

TEST(FirmwareImageTest, ZeroKeyOnlyReversesBlocks) {
  FileBytes f = RandomFile(2);
  std::fill(f.begin(), f.begin() + 256, 0);
  FileBytes raw = f;
  FileBytes image{};
  DecodeImage(raw, image);
  for (std::size_t b = 0; b < 64; ++b) {
    ASSERT_TRUE(std::equal(f.begin() + b * 1025, f.begin() + b * 1025 + 1025,
                           image.rbegin() + (63 - b) * 1025));
  }
}

TEST(FirmwareImageTest, EncodeIsTheInverseOfDecode) {
  for (unsigned seed : {3u, 4u, 5u}) {
    const FileBytes f = RandomFile(seed);
    FileBytes raw = f;
    FileBytes image{};
    DecodeImage(raw, image);
    FileBytes back{};
    EncodeImage(image, back);
    EXPECT_EQ(back, f);
  }
}

struct BlockCase {
  const char* name;
  std::uint8_t b62, b63;
  bool written, loaded;
};

class MarkerTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(MarkerTest, WrittenAndLoadedTests) {
  SectorInf block{};
  block[62] = GetParam().b62;
  block[63] = GetParam().b63;
  EXPECT_EQ(IsWritten(block), GetParam().written);
  EXPECT_EQ(IsLoaded(block), GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(Markers, MarkerTest,
                         ::testing::ValuesIn(std::vector<BlockCase>{
                             {"Both", 0x55, 0xAA, true, true},
                             {"OnlyAA", 0x00, 0xAA, false, true},
                             {"Only55", 0x55, 0x00, false, false},
                             {"Zero", 0x00, 0x00, false, false},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SectorInfTest, DerivedBlockSkipsSourceByte20) {
  FileBytes image{};
  for (int i = 0; i < 20; ++i) image[65536 + i] = static_cast<std::uint8_t>('A' + i);
  image[65536 + 20] = 'U';
  for (int i = 21; i < 64; ++i) image[65536 + i] = static_cast<std::uint8_t>(i);
  const SectorInf block = DeriveSectorInf(image);
  EXPECT_EQ(block[0], 0x20);
  EXPECT_EQ(block[1], 'A');
  EXPECT_EQ(block[20], 'T');
  EXPECT_EQ(block[21], 21);
  EXPECT_EQ(std::count(block.begin(), block.end(), 'U'), 0);
  EXPECT_EQ(SectorName(block), "ABCDEFGHIJKLMNOPQR");
}

TEST(SectorInfTest, ZeroSourceGivesSpaceAndZeros) {
  const SectorInf block = DeriveSectorInf(FileBytes{});
  EXPECT_EQ(block[0], 0x20);
  EXPECT_TRUE(std::all_of(block.begin() + 1, block.end(), [](auto b) { return b == 0; }));
  EXPECT_FALSE(IsLoaded(block));
}

TEST(SectorInfTest, NamesAreDecodedFromWindows1251) {
  SectorInf block{};
  const std::uint8_t name[] = {0xD2, 0xE5, 0xF1, 0xF2, ' ', 'V', '2', 0x00, 'x'};  // "Тест V2"
  std::copy(std::begin(name), std::end(name), block.begin() + 1);
  EXPECT_EQ(SectorName(block), "Тест V2");
  block[1] = 0;
  EXPECT_EQ(SectorName(block), "");
}

}  // namespace
}  // namespace quorvex::test
