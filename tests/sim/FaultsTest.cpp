// Faults as an operator types them on the command line.
#include "Faults.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace quorvex::sim {
namespace {

struct GoodFault {
  const char* text;
  std::function<bool(const Faults&)> holds;
};

void PrintTo(const GoodFault& s, std::ostream* os) { *os << s.text; }

class FaultTextGood : public ::testing::TestWithParam<GoodFault> {};

TEST_P(FaultTextGood, Parses) {
  Faults faults;
  std::string error;
  ASSERT_TRUE(ParseFault(GetParam().text, &faults, &error)) << error;
  EXPECT_TRUE(GetParam().holds(faults));
}

const GoodFault kGoodFaults[] = {
    {"silent", [](const Faults& f) { return f.silent; }},
    {"checksum-mismatch", [](const Faults& f) { return f.checksumMismatch; }},
    {"stray-byte", [](const Faults& f) { return f.strayByte; }},
    {"version=45B4",
     [](const Faults& f) {
       return f.version == std::array<std::uint8_t, 2>{0x45, 0xB4};
     }},
    {"version=b345",
     [](const Faults& f) {
       return f.version == std::array<std::uint8_t, 2>{0xB3, 0x45};
     }},
    {"wrong-code=33",
     [](const Faults& f) { return f.wrongCode.test(0x33) && f.wrongCode.count() == 1; }},
    {"wrong-code=0x02", [](const Faults& f) { return f.wrongCode.test(0x02); }},
    {"wrong-code=2", [](const Faults& f) { return f.wrongCode.test(0x02); }},
    {"bad-check=finish", [](const Faults& f) { return f.badCheck.test(0x35); }},
    {"short=write", [](const Faults& f) { return f.shortReply.test(0x30); }},
    {"short=erase", [](const Faults& f) { return f.shortReply.test(0x31); }},
    {"short=init", [](const Faults& f) { return f.shortReply.test(0x32); }},
    {"short=read", [](const Faults& f) { return f.shortReply.test(0x33); }},
    {"short=check", [](const Faults& f) { return f.shortReply.test(0x02); }},
    {"mute-after=0", [](const Faults& f) { return f.muteAfter == 0; }},
    {"mute-after=512", [](const Faults& f) { return f.muteAfter == 512; }},
    {"hangup-after=17", [](const Faults& f) { return f.hangupAfter == 17; }},
    {"delay-ms=250", [](const Faults& f) { return f.delay == std::chrono::milliseconds(250); }},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTextGood, ::testing::ValuesIn(kGoodFaults));

class FaultTextBad : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultTextBad, IsRefusedWithItsText) {
  Faults faults;
  std::string error;
  EXPECT_FALSE(ParseFault(GetParam(), &faults, &error));
  EXPECT_NE(error.find(GetParam()), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTextBad,
                         ::testing::Values("", "loud", "silent=1", "version", "version=45B",
                                           "version=45B3A", "version=XYZW", "wrong-code",
                                           "wrong-code=34", "wrong-code=zap", "short=0x",
                                           "bad-check=100", "mute-after=-1", "mute-after=513",
                                           "hangup-after=x", "delay-ms=", "delay-ms=60001",
                                           "delay-ms=1.5"));

TEST(FaultTexts, AccumulateOverSeveralFaults) {
  Faults faults;
  std::string error;
  ASSERT_TRUE(ParseFaults({"short=read", "short=check", "delay-ms=5"}, &faults, &error));
  EXPECT_TRUE(faults.shortReply.test(0x33));
  EXPECT_TRUE(faults.shortReply.test(0x02));
  EXPECT_EQ(faults.delay, std::chrono::milliseconds(5));
  EXPECT_FALSE(ParseFaults({"silent", "nonsense"}, &faults, &error));
}

}  // namespace
}  // namespace quorvex::sim
