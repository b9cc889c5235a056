// A read of the line takes the reply in hand and nothing after it: a byte of the next reply,
// or a stray one, stays in the line. Every case runs over the scripted port, whose reads take
// all the reply still needs, and over a pseudo-terminal with the real serial code, where the
// whole line has arrived before the port reads.
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "HeldDescriptor.h"
#include "Hex.h"
#include "PtyPair.h"
#include "ScriptedBackend.h"
#include "TComPort.h"

namespace quorvex::test {
namespace {

// How the port reads the reply: as a frame, or as the one-byte answer to an image block.
enum class Read { Frame, Answer };

struct BoundaryCase {
  const char* name;
  Read read;
  std::string reply;  // the bytes the read must take
  std::string after;  // what follows in the line and must stay there
  unsigned result;    // ReceiveFrame's result, or the answer byte
};

// A long reply as the wire carries it: length, zero byte, `length` payload bytes starting
// with `code`, check byte.
std::string LongReply(std::uint8_t code, unsigned length) {
  std::vector<std::uint8_t> wire{static_cast<std::uint8_t>(length), 0x00, code};
  for (unsigned i = 1; i < length; ++i) wire.push_back(static_cast<std::uint8_t>(i * 37 + 11));
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (i != 1) sum = static_cast<std::uint8_t>(sum + wire[i]);
  }
  wire.push_back(static_cast<std::uint8_t>(sum ^ 0xFF));
  return ToHex(wire);
}

const std::vector<BoundaryCase>& Cases() {
  static const std::vector<BoundaryCase> cases{
      {"DeviceCheckThenTheNextLength", Read::Frame, "03 00 FD 45 B3 07", "01", 3},
      {"BlockReadThenAStrayByte", Read::Frame, LongReply(0xCC, 65), "00", 65},
      {"FinishThenALateAnswer", Read::Frame, "02 00 CA 00 33", "00", 2},
      {"EmptyFrameThenAFrame", Read::Frame, "00 00 FF", "01 00 05 F9", 0},
      {"BadCheckByteThenTheNextLength", Read::Frame, "01 00 05 06", "02", 0},
      {"StrayZeroIsReadAsAnEmptyFrame", Read::Frame, "00 01 00", "05 F9", 0},
      {"LongestFrameThenTheNextLength", Read::Frame, LongReply(0xCC, 255), "03", 255},
      {"AnswerThenTheFinishReply", Read::Answer, "00", "02 00 CA 00 33", 0x00},
      {"AnswerThenTheNextAnswer", Read::Answer, "01", "00", 0x01},
  };
  return cases;
}

// Reads the case's reply as the device code would.
unsigned ReadReply(TComPort& port, Read read) {
  if (read == Read::Answer) return port.ReadByte();
  std::vector<std::uint8_t> buffer(256, 0xEE);
  return port.ReceiveFrame(buffer.data());
}

void PrintTo(const BoundaryCase& c, std::ostream* os) { *os << c.name; }

class ScriptedBoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(ScriptedBoundaryTest, TheBytesAfterTheReplyStayInTheLine) {
  const BoundaryCase& c = GetParam();
  auto line = std::make_shared<ScriptedLine>();
  TComPort port(nullptr, std::make_unique<ScriptedBackend>(line));
  ASSERT_TRUE(port.Open("//./COM3"));
  const std::vector<std::uint8_t> after = Hex(c.after);
  line->Queue(Hex(c.reply));
  line->Queue(after);
  port.TimedOut = false;
  EXPECT_EQ(ReadReply(port, c.read), c.result);
  EXPECT_FALSE(port.TimedOut);
  EXPECT_EQ(ToHex({line->incoming.begin(), line->incoming.end()}), c.after);
}

INSTANTIATE_TEST_SUITE_P(Replies, ScriptedBoundaryTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Bytes that arrived at the port and were not read from it yet.
int Waiting(int fd) {
  int count = -1;
  return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

class PtyBoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(PtyBoundaryTest, TheBytesAfterTheReplyStayInTheLine) {
  const BoundaryCase& c = GetParam();
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  TComPort port(nullptr);
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  const std::optional<int> fd = HeldDescriptor(pty.SlavePath());
  ASSERT_TRUE(fd.has_value());

  const std::vector<std::uint8_t> reply = Hex(c.reply);
  const std::vector<std::uint8_t> after = Hex(c.after);
  ASSERT_TRUE(pty.Send(reply));
  ASSERT_TRUE(pty.Send(after));
  // The terminal hands the bytes on in the background: wait until all of them are there, so
  // that a read which takes too much would find them.
  const int total = static_cast<int>(reply.size() + after.size());
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Waiting(*fd) < total && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(Waiting(*fd), total);

  port.TimedOut = false;
  EXPECT_EQ(ReadReply(port, c.read), c.result);
  EXPECT_FALSE(port.TimedOut);
  EXPECT_EQ(Waiting(*fd), static_cast<int>(after.size())) << "the read took bytes past the reply";
  // What stayed comes next, in order.
  std::vector<std::uint8_t> rest;
  for (std::size_t i = 0; i < after.size(); ++i) rest.push_back(port.ReadByte());
  EXPECT_EQ(ToHex(rest), c.after);
  EXPECT_FALSE(port.TimedOut);
}

INSTANTIATE_TEST_SUITE_P(Replies, PtyBoundaryTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
