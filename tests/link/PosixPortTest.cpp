// The real POSIX serial code against a pseudo-terminal whose master plays the instrument.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Hex.h"
#include "PtyPair.h"
#include "TComPort.h"

namespace quorvex::test {
namespace {

using Clock = std::chrono::steady_clock;

struct PosixPortTest : ::testing::Test {
  PtyPair pty;
  std::vector<std::string> messages;
  TComPort port{[this](std::string_view t) { messages.emplace_back(t); }};
  void SetUp() override { ASSERT_TRUE(pty.Ok()); }
};

TEST_F(PosixPortTest, MissingPortFailsWithItsName) {
  EXPECT_FALSE(port.Open("/dev/ttyQVX_missing"));
  EXPECT_EQ(messages, std::vector<std::string>{"Ошибка открытия порта ttyQVX_missing"});
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(PosixPortTest, AFileIsNotAPort) {
  EXPECT_FALSE(port.Probe("/proc/self/status"));
  EXPECT_FALSE(port.Probe("/tmp"));
}

TEST_F(PosixPortTest, HeldPortCannotBeOpenedAgainEvenByRoot) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  TComPort second(nullptr);
  EXPECT_FALSE(second.Probe(pty.SlavePath()));
  port.Close();
  EXPECT_TRUE(second.Probe(pty.SlavePath())) << "closing releases the lock and the flag";
}

TEST_F(PosixPortTest, ProbeOfAnotherPathReleasesTheFirst) {
  PtyPair other;
  ASSERT_TRUE(port.Probe(pty.SlavePath()));
  EXPECT_FALSE(port.Probe("/dev/ttyQVX_missing"));
  TComPort second(nullptr);
  EXPECT_TRUE(second.Probe(pty.SlavePath()));
}

TEST_F(PosixPortTest, LineReadsBackAs62500Raw8N1) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  EXPECT_EQ(port.ActualBaud(), 62'500u);
  const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);  // root may open a terminal marked exclusive; that is why we also lock
  struct termios2 tio {};
  ASSERT_EQ(::ioctl(fd, TCGETS2, &tio), 0);
  ::close(fd);
  EXPECT_EQ(tio.c_ospeed, 62'500u);
  EXPECT_EQ(tio.c_ispeed, 62'500u);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  EXPECT_NE(tio.c_cflag & CREAD, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(PosixPortTest, BinaryFramesCrossUnchanged) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  // Bytes a cooked terminal would change: CR, LF, XON, XOFF, interrupt, end of file, 0xFF.
  const std::vector<std::uint8_t> payload{0x0D, 0x0A, 0x11, 0x13, 0x03, 0x04, 0xFF, 0x7F};
  port.SendFrame(payload.data(), static_cast<std::uint8_t>(payload.size()));
  EXPECT_EQ(ToHex(pty.Drain(11)), "08 00 0D 0A 11 13 03 04 FF 7F 37");
  ASSERT_TRUE(pty.Send(Hex("08 00 0D 0A 11 13 03 04 FF 7F 37")));
  std::vector<std::uint8_t> buffer(256);
  ASSERT_EQ(port.ReceiveFrame(buffer.data()), 8u);
  EXPECT_EQ(ToHex({buffer.begin(), buffer.begin() + 8}), "0D 0A 11 13 03 04 FF 7F");
}

TEST_F(PosixPortTest, PendingStrayByteIsReadAsTheNextLength) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  ASSERT_TRUE(pty.Send(Hex("01 00 05 F9")));
  std::vector<std::uint8_t> buffer(256);
  ASSERT_EQ(port.ReceiveFrame(buffer.data()), 1u);
  ASSERT_TRUE(pty.Send(Hex("00 03 00 FD 45 B3 07")));  // a stray 00 before the reply
  EXPECT_EQ(port.ReceiveFrame(buffer.data()), 0u) << "00 03 00 is read as an empty frame";
}

TEST_F(PosixPortTest, SilentLineTimesOutAfter5001Milliseconds) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  port.TimedOut = false;
  const auto start = Clock::now();
  port.ReadByte();
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_TRUE(port.TimedOut);
  EXPECT_GE(waited.count(), 5'001);
  EXPECT_LT(waited.count(), 5'500);
}

TEST_F(PosixPortTest, UnpluggedAdapterIsNoByteAtOnce) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  pty.CloseMaster();
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) {
    port.TimedOut = false;
    port.ReadByte();
    ASSERT_TRUE(port.TimedOut);
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "no read waits on a dead line";
  port.Close();
}

}  // namespace
}  // namespace quorvex::test
