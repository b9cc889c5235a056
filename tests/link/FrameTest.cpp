// Frames on the wire, byte for byte, over a scripted in-memory port.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "Hex.h"
#include "ScriptedBackend.h"
#include "TComPort.h"

namespace quorvex::test {
namespace {

struct PortFixture : ::testing::Test {
  std::shared_ptr<ScriptedLine> line = std::make_shared<ScriptedLine>();
  std::vector<std::string> messages;
  TComPort port{[this](std::string_view text) { messages.emplace_back(text); },
                std::make_unique<ScriptedBackend>(line)};
  void SetUp() override { ASSERT_TRUE(port.Open("//./COM3")); }
};

struct SendCase {
  const char* name;
  std::vector<std::uint8_t> payload;
  std::string wire;
};

class SendFrameTest : public PortFixture, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendFrameTest, PutsTheFrameOnTheLineOneByteAWrite) {
  const SendCase& c = GetParam();
  port.SendFrame(c.payload.data(), static_cast<std::uint8_t>(c.payload.size()));
  EXPECT_EQ(ToHex(line->written), c.wire);
  EXPECT_EQ(line->writeSizes, std::vector<std::size_t>(c.payload.size() + 3, 1));
}

INSTANTIATE_TEST_SUITE_P(Vectors, SendFrameTest,
                         ::testing::ValuesIn(std::vector<SendCase>{
                             {"DeviceCheck", {0x02}, "01 00 02 FC"},
                             {"Empty", {}, "00 00 FF"},
                             {"EraseSector1", {0x31, 0x00}, "02 00 31 00 CC"},
                             {"InitSector64", {0x32, 0x3F}, "02 00 32 3F 8C"},
                             {"ReadSector2", {0x33, 0xE0, 0x40}, "03 00 33 E0 40 A9"},
                             {"WriteSector64", {0x30, 0xEF, 0xC0}, "03 00 30 EF C0 1D"},
                             {"FinishSector1", {0x35, 0x00}, "02 00 35 00 C8"},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortFixture, LongestFrameIs258Bytes) {
  std::vector<std::uint8_t> payload(255);
  std::iota(payload.begin(), payload.end(), std::uint8_t{0});
  port.SendFrame(payload.data(), 255);
  ASSERT_EQ(line->written.size(), 258u);
  EXPECT_EQ(line->written[0], 0xFF);
  EXPECT_EQ(line->written[1], 0x00);
  // FF + (0 + 1 + ... + FE) = 7F80: the low byte 80, inverted.
  EXPECT_EQ(line->written[257], 0x7F);
}

struct ReceiveCase {
  const char* name;
  std::string wire;
  unsigned result;
  std::string payload;  // the buffer's first `result` bytes
  int readsWithoutByte;
};

class ReceiveFrameTest : public PortFixture, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveFrameTest, AcceptsOrRefusesTheFrame) {
  const ReceiveCase& c = GetParam();
  line->Queue(Hex(c.wire));
  std::vector<std::uint8_t> buffer(256, 0xEE);
  EXPECT_EQ(port.ReceiveFrame(buffer.data()), c.result);
  EXPECT_EQ(ToHex({buffer.begin(), buffer.begin() + c.result}), c.payload);
  EXPECT_EQ(line->readsWithoutByte, c.readsWithoutByte) << "a time-out ends the frame at once";
  EXPECT_EQ(port.TimedOut, c.readsWithoutByte > 0);
}

INSTANTIATE_TEST_SUITE_P(Vectors, ReceiveFrameTest,
                         ::testing::ValuesIn(std::vector<ReceiveCase>{
                             {"Valid", "01 00 05 F9", 1, "05", 0},
                             {"CheckByteZeroPasses", "01 00 05 00", 1, "05", 0},
                             {"CheckByteEqualToSumFails", "01 00 05 06", 0, "", 0},
                             {"SecondByteIgnored", "01 7E 05 F9", 1, "05", 0},
                             {"EmptyPayloadYieldsZero", "00 00 FF", 0, "", 0},
                             {"DeviceCheckReply", "03 00 FD 45 B3 07", 3, "FD 45 B3", 0},
                             {"FinishSuccess", "02 00 CA 00 33", 2, "CA 00", 0},
                             {"FinishChecksumMismatch", "02 00 CA 01 32", 2, "CA 01", 0},
                             {"StopsAfterLength", "01", 0, "", 1},
                             {"StopsInPayload", "03 00 FD", 0, "", 1},
                             {"NoCheckByte", "01 00 05", 0, "", 1},
                             {"NothingAtAll", "", 0, "", 1},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortFixture, FullFrameOf255BytesFillsPositions0To254) {
  std::vector<std::uint8_t> wire{0xFF, 0x00};
  for (int i = 0; i < 255; ++i) wire.push_back(static_cast<std::uint8_t>(i * 7));
  wire.push_back(0x79);  // the check byte of this frame, worked out by hand
  line->Queue(wire);
  std::vector<std::uint8_t> buffer(256, 0);
  ASSERT_EQ(port.ReceiveFrame(buffer.data()), 255u);
  EXPECT_EQ(buffer[254], static_cast<std::uint8_t>(254 * 7));
}

TEST_F(PortFixture, StrayByteIsTakenAsTheNextLength) {
  line->Queue(Hex("00 01 00 05 F9"));  // a stray 00, then a valid frame
  std::vector<std::uint8_t> buffer(256, 0);
  // 00 is read as an empty frame: 00 01, then check byte 00 passes with sum 0.
  EXPECT_EQ(port.ReceiveFrame(buffer.data()), 0u);
  EXPECT_EQ(line->incoming.size(), 2u) << "nothing resynchronises the stream";
}

TEST_F(PortFixture, ReadByteKeepsTimedOutUntilTheFrameClearsIt) {
  port.ReadByte();
  EXPECT_TRUE(port.TimedOut);
  line->Queue({0x42});
  EXPECT_EQ(port.ReadByte(), 0x42);
  EXPECT_TRUE(port.TimedOut) << "a read that succeeds never clears the flag";
}

}  // namespace
}  // namespace quorvex::test
