// The sector-number check: what passes, and what each fault shows.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "RecordingOperator.h"
#include "SectorNumber.h"

namespace quorvex::test {
namespace {

struct SectorCase {
  const char* name;
  std::string text;
  std::optional<int> sector;
  Shown shown;  // empty text: nothing shown
};

class SectorNumberTest : public ::testing::TestWithParam<SectorCase> {};

TEST_P(SectorNumberTest, ChecksTheField) {
  const SectorCase& c = GetParam();
  RecordingOperator op;
  EXPECT_EQ(CheckSectorNumber(op, c.text), c.sector);
  if (c.shown.text.empty()) {
    EXPECT_TRUE(op.shown.empty());
  } else {
    EXPECT_EQ(op.shown, std::vector<Shown>{c.shown});
  }
}

const Shown kWrong{"Введен неправильный номер сектора", "Ошибка", 0x10, false};

INSTANTIATE_TEST_SUITE_P(
    Texts, SectorNumberTest,
    ::testing::ValuesIn(std::vector<SectorCase>{
        {"One", "1", 1, {}},
        {"SixtyFour", "64", 64, {}},
        {"LeadingZero", "07", 7, {}},
        {"ThreeDigits", "007", 7, {}},
        {"Plus", "+5", 5, {}},
        {"Empty", "", std::nullopt, {"Введите номер сектора", "Quorvex", 0, true}},
        {"Zero", "0", std::nullopt, kWrong},
        {"SixtyFive", "65", std::nullopt, kWrong},
        {"MinusOne", "-1", std::nullopt, kWrong},
        {"Huge",
         "99999999999",
         std::nullopt,
         {"'99999999999' is not a valid integer value.", "Quorvex", 0x10, false}},
        {"Letters",
         "ab",
         std::nullopt,
         {"'ab' is not a valid integer value.", "Quorvex", 0x10, false}},
        {"LeadingBlank", " 5", 5, {}},
        {"TrailingBlank",
         "5 ",
         std::nullopt,
         {"'5 ' is not a valid integer value.", "Quorvex", 0x10, false}},
        {"DoubleSign",
         "--5",
         std::nullopt,
         {"'--5' is not a valid integer value.", "Quorvex", 0x10, false}},
        {"SignOnly",
         "-",
         std::nullopt,
         {"'-' is not a valid integer value.", "Quorvex", 0x10, false}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
