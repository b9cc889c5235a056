// Names go into an information block as Windows-1251 and come back out as UTF-8.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Cp1251.h"
#include "Hex.h"

namespace quorvex {
namespace {

struct EncodeCase {
  const char* name;
  std::string utf8;
  std::optional<std::string> hex;  // nothing: the text has no Windows-1251 form
};

class EncodeCp1251Test : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeCp1251Test, GivesTheCodePageBytesOrNothing) {
  const EncodeCase& c = GetParam();
  const std::optional<std::string> bytes = EncodeCp1251(c.utf8);
  ASSERT_EQ(bytes.has_value(), c.hex.has_value());
  if (bytes) {
    EXPECT_EQ(test::ToHex(std::vector<std::uint8_t>(bytes->begin(), bytes->end())), *c.hex);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EncodeCp1251Test,
                         ::testing::ValuesIn(std::vector<EncodeCase>{
                             {"Empty", "", ""},
                             {"Cyrillic", "Тест Windows", "D2 E5 F1 F2 20 57 69 6E 64 6F 77 73"},
                             {"YoEuroNumero", "Ёё€№", "A8 B8 88 B9"},
                             {"Chinese", "日本", std::nullopt},
                             {"GreekOmega", "Ω", std::nullopt},
                             {"NotUtf8", "\xFF\xFE", std::nullopt},
                             {"TruncatedUtf8", "\xD0", std::nullopt},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

// Every character of the code page survives the way out and back.
TEST(Cp1251RoundTrip, EveryDefinedByte) {
  for (unsigned byte = 1; byte < 256; ++byte) {
    if (byte == 0x98) continue;  // the one byte the code page leaves undefined
    const std::string original(1, static_cast<char>(byte));
    EXPECT_EQ(EncodeCp1251(DecodeCp1251(original)), original) << "byte " << byte;
  }
}

}  // namespace
}  // namespace quorvex
