// What a typed answer to the overwrite question means.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Answer.h"

namespace quorvex::cli {
namespace {

struct AnswerCase {
  const char* name;
  std::string typed;
  bool yes;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class AnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, MeansYesOrNo) { EXPECT_EQ(IsYesAnswer(GetParam().typed), GetParam().yes); }

INSTANTIATE_TEST_SUITE_P(Typed, AnswerTest,
                         ::testing::ValuesIn(std::vector<AnswerCase>{
                             {"Y", "y", true},
                             {"YCapital", "Y", true},
                             {"Yes", "yes", true},
                             {"YesMixedCase", "YeS", true},
                             {"De", "д", true},
                             {"DeCapital", "Д", true},
                             {"Da", "да", true},
                             {"DaCapital", "ДА", true},
                             {"DaFirstCapital", "Да", true},
                             {"DaSecondCapital", "дА", true},
                             {"SpacesAndConsoleLineEnd", "  да \r\n", true},
                             {"Empty", "", false},
                             {"N", "n", false},
                             {"Net", "нет", false},
                             {"NetCapital", "НЕТ", false},
                             {"YesWithMore", "yes please", false},
                             {"DaWithMore", "дак", false},
                             {"LatinLookalikeA", "дa", false},  // a Latin a after the д
                             {"OtherCyrillicCapital", "Я", false},
                             {"ConsoleCodePageByte", "\xA4", false},  // «д» in code page 866
                             {"HalfALetter", "\xD0", false},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::cli
