// The loader's exchanges as hexadecimal vectors, sent through TComPort's frames to the
// simulated instrument over a pseudo-terminal: the request on the wire and the reply must
// match byte for byte.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "Hex.h"
#include "SimulatedInstrument.h"
#include "TComPort.h"

namespace quorvex::test {
namespace {

struct Exchange {
  const char* name;
  std::vector<std::string> faults;
  std::string payload;  // the request payload
  std::string wire;     // the frame the instrument must receive
  std::string reply;    // the whole reply frame
  bool prepareSector1;  // initialise sector 1 and stream a full image first
};

void PrintTo(const Exchange& c, std::ostream* os) { *os << c.name; }

// CC and 64 zero bytes: the block of a sector never written.
const std::string kEmptyBlockReply = [] {
  std::string hex = "41 00 CC";
  for (int i = 0; i < 64; ++i) hex += " 00";
  return hex + " F2";
}();

class WireVectorTest : public ::testing::TestWithParam<Exchange> {};

// Reads a whole reply frame byte by byte, as it came.
std::vector<std::uint8_t> ReadFrame(TComPort& port) {
  std::vector<std::uint8_t> bytes;
  port.TimedOut = false;
  bytes.push_back(port.ReadByte());
  bytes.push_back(port.ReadByte());
  const unsigned length = bytes[0];
  for (unsigned i = 0; i <= length && !port.TimedOut; ++i) bytes.push_back(port.ReadByte());
  if (port.TimedOut) bytes.clear();
  return bytes;
}

TEST_P(WireVectorTest, MatchesTheVector) {
  const Exchange& c = GetParam();
  sim::SimulatedInstrument instrument(sim::Options{false, c.faults, {}, {}, {}});
  std::string error;
  ASSERT_TRUE(instrument.Start(&error)) << error;
  TComPort port(nullptr);
  ASSERT_TRUE(port.Open(instrument.PortPath()));

  if (c.prepareSector1) {
    const std::vector<std::uint8_t> init = Hex("32 00");
    port.SendFrame(init.data(), 2);
    ASSERT_EQ(ToHex(ReadFrame(port)), "01 00 CD 31");
    const std::vector<std::uint8_t> block(128, 0x5A);
    for (int i = 0; i < 512; ++i) {
      port.WriteBlock(block.data(), 128);
      port.TimedOut = false;
      port.ReadByte();
      ASSERT_FALSE(port.TimedOut) << "block " << i;
    }
    instrument.ClearLog();
  }

  const std::vector<std::uint8_t> payload = Hex(c.payload);
  port.SendFrame(payload.data(), static_cast<std::uint8_t>(payload.size()));
  if (payload[0] == 0x30) {
    for (int i = 0; i < 64; ++i) port.WriteByte(static_cast<std::uint8_t>(i));
  }
  EXPECT_EQ(ToHex(ReadFrame(port)), c.reply);
  const std::vector<std::uint8_t> received = instrument.Received();
  const std::vector<std::uint8_t> frame = Hex(c.wire);
  ASSERT_GE(received.size(), frame.size());
  EXPECT_EQ(ToHex({received.begin(), received.begin() + frame.size()}), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, WireVectorTest,
    ::testing::ValuesIn(std::vector<Exchange>{
        {"DeviceCheck", {}, "02", "01 00 02 FC", "03 00 FD 45 B3 07", false},
        {"EraseSector1", {}, "31 00", "02 00 31 00 CC", "01 00 CE 30", false},
        {"InitSector64", {}, "32 3F", "02 00 32 3F 8C", "01 00 CD 31", false},
        {"ReadBlockSector2", {}, "33 E0 40", "03 00 33 E0 40 A9", kEmptyBlockReply, false},
        {"WriteBlockSector64", {}, "30 EF C0", "03 00 30 EF C0 1D", "01 00 CF 2F", false},
        {"FinishSector1", {}, "35 00", "02 00 35 00 C8", "02 00 CA 00 33", true},
        {"FinishSector1ChecksumFault",
         {"checksum-mismatch"},
         "35 00",
         "02 00 35 00 C8",
         "02 00 CA 01 32",
         true},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
