// The real POSIX serial code against a pseudo-terminal whose master plays the instrument.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "HeldDescriptor.h"
#include "Hex.h"
#include "PtyPair.h"
#include "TComPort.h"
#include "TempFolder.h"

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

// A writable regular file in a folder of its own: a path that opens for reading and writing,
// so only the terminal check can refuse it.
std::string WritableFile(const TempFolder& folder) {
  std::string file = (folder.Path() / "not-a-port").string();
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  return file;
}

TEST_F(PosixPortTest, AFileIsNotAPort) {
  TempFolder scratch("quorvex-port");
  ASSERT_FALSE(scratch.Path().empty());
  const std::string file = WritableFile(scratch);
  // The file opens for reading and writing, and another program holds its lock: only the
  // terminal check, made before anything else, calls it what it is.
  const int holder = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(port.Probe(file));
  EXPECT_EQ(port.OpenFailure().error, PortOpenError::NotASerialPort);
  EXPECT_FALSE(port.IsOpen());
  ::close(holder);
  EXPECT_FALSE(port.Probe(scratch.Path().string()));
  EXPECT_EQ(port.OpenFailure().error, PortOpenError::NotASerialPort);
}

// Why a port does not open, for each cause a test can bring about; the command line turns
// each into its own advice.
struct CauseCase {
  const char* name;
  PortOpenError expected;
  // Prepares the port at `slave` and returns the path to open.
  std::function<std::string(const std::string& slave, TComPort& holder)> arrange;
};

void PrintTo(const CauseCase& c, std::ostream* os) { *os << c.name; }

class OpenCauseTest : public ::testing::TestWithParam<CauseCase> {};

TEST_P(OpenCauseTest, TheFailureSaysWhy) {
  const CauseCase& c = GetParam();
  if (c.expected == PortOpenError::PermissionDenied && ::geteuid() == 0) {
    GTEST_SKIP() << "root opens a device whatever its permissions; run as an ordinary user";
  }
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  TComPort holder(nullptr);
  const std::string path = c.arrange(pty.SlavePath(), holder);
  std::vector<std::string> messages;
  TComPort port([&](std::string_view t) { messages.emplace_back(t); });
  EXPECT_FALSE(port.Open(path));
  EXPECT_EQ(port.OpenFailure().error, c.expected) << port.OpenFailure().system;
  EXPECT_FALSE(port.OpenFailure().system.empty());
  EXPECT_EQ(messages.size(), 1u) << "the operator's message stays the one plain message";
  EXPECT_TRUE(port.Probe(pty.SlavePath()) || c.expected == PortOpenError::Busy ||
              c.expected == PortOpenError::PermissionDenied)
      << "a failed open leaves nothing held";
}

INSTANTIATE_TEST_SUITE_P(Causes, OpenCauseTest,
                         ::testing::ValuesIn(std::vector<CauseCase>{
                             {"HeldByAnotherProgram", PortOpenError::Busy,
                              [](const std::string& slave, TComPort& holder) {
                                EXPECT_TRUE(holder.Open(slave));
                                return slave;
                              }},
                             {"MissingPath", PortOpenError::NoSuchPort,
                              [](const std::string&, TComPort&) {
                                return std::string("/dev/ttyQVX_missing");
                              }},
                             {"PermissionDenied", PortOpenError::PermissionDenied,
                              [](const std::string& slave, TComPort&) {
                                EXPECT_EQ(::chmod(slave.c_str(), 0), 0);
                                return slave;
                              }},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PosixPortTest, HeldPortCannotBeOpenedAgainEvenByRoot) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  TComPort second(nullptr);
  EXPECT_FALSE(second.Probe(pty.SlavePath()));
  port.Close();
  EXPECT_TRUE(second.Probe(pty.SlavePath())) << "closing releases the lock and the flag";
}

TEST_F(PosixPortTest, ProbeOfAnotherPathReleasesTheFirst) {
  ASSERT_TRUE(port.Probe(pty.SlavePath()));
  EXPECT_FALSE(port.Probe("/dev/ttyQVX_missing"));
  TComPort second(nullptr);
  EXPECT_TRUE(second.Probe(pty.SlavePath()));
}

TEST_F(PosixPortTest, LineReadsBackAs62500Raw8N1) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  EXPECT_EQ(port.ActualBaud(), 62'500u);
  // The master end reads the settings of its terminal: no second open of the port, which
  // its exclusive flag refuses to everyone but root.
  struct termios2 tio {};
  ASSERT_EQ(::ioctl(pty.Master(), TCGETS2, &tio), 0);
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

TEST_F(PosixPortTest, StoppedLineLeavesEachByteOfTheFrameOutAndGoesOn) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  const std::optional<int> fd = HeldDescriptor(pty.SlavePath());
  ASSERT_TRUE(fd.has_value());
  // Output suspended: the port takes nothing, so every byte of the frame times out on its
  // own (short time-outs here) and is left out; the frame's end is never kept for later.
  ASSERT_EQ(::ioctl(*fd, TCXONC, TCOOFF), 0);
  ASSERT_TRUE(port.SetTimeouts(10));
  const std::vector<std::uint8_t> check{0x02};
  port.SendFrame(check.data(), 1);
  ASSERT_EQ(::ioctl(*fd, TCXONC, TCOON), 0);
  EXPECT_EQ(ToHex(pty.Drain(4, 100)), "");
  port.SendFrame(check.data(), 1);
  EXPECT_EQ(ToHex(pty.Drain(4)), "01 00 02 FC") << "the next frame goes out whole";
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

TEST_F(PosixPortTest, UnpluggedAdapterIsNoByteAtOnceAndThePortIsClosed) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  pty.CloseMaster();
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) {
    port.TimedOut = false;
    port.ReadByte();
    ASSERT_TRUE(port.TimedOut);
    // Closed at once: a re-plugged adapter can then be opened under its name again.
    ASSERT_FALSE(port.IsOpen());
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "no read waits on a dead line";
}

// Bytes that arrived at the terminal behind `fd` and were not read from it yet; waits until
// `count` are there (the terminal hands them on in the background).
int WaitingAfter(int fd, int count) {
  int waiting = -1;
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while ((::ioctl(fd, FIONREAD, &waiting) != 0 || waiting < count) && Clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return waiting;
}

// A reply that came after its time-out (or a stray byte) is dropped before the next request
// goes out, so the port held open between commands is never one reply behind.
TEST_F(PosixPortTest, LateReplyIsDroppedBeforeTheNextRequest) {
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  ASSERT_TRUE(port.SetTimeouts(50));
  const std::optional<int> fd = HeldDescriptor(pty.SlavePath());
  ASSERT_TRUE(fd.has_value());
  std::vector<std::uint8_t> buffer(256);
  const std::vector<std::uint8_t> erase{0x31, 0x02};
  port.SendFrame(erase.data(), 2);
  EXPECT_EQ(ToHex(pty.Drain(5)), "02 00 31 02 CA");
  EXPECT_EQ(port.ReceiveFrame(buffer.data()), 0u) << "no reply in time";
  ASSERT_TRUE(pty.Send(Hex("01 00 CE 30")));  // the erase reply, too late
  ASSERT_EQ(WaitingAfter(*fd, 4), 4);

  const std::vector<std::uint8_t> check{0x02};
  port.SendFrame(check.data(), 1);
  EXPECT_EQ(ToHex(pty.Drain(4)), "01 00 02 FC");
  ASSERT_TRUE(pty.Send(Hex("03 00 FD 45 B3 07")));
  ASSERT_EQ(port.ReceiveFrame(buffer.data()), 3u);
  EXPECT_EQ(ToHex({buffer.begin(), buffer.begin() + 3}), "FD 45 B3");
}

// A listing probes every candidate: a port that another program uses keeps its unread input,
// and its exclusive flag, which only that program may clear.
TEST_F(PosixPortTest, ProbeLeavesAnotherProgramsInputAndFlagAlone) {
  for (const bool flagSet : {false, true}) {
    SCOPED_TRACE(flagSet ? "flag set" : "no flag");
    PtyPair line;
    ASSERT_TRUE(line.Ok());
    const int other = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    struct termios2 raw {};  // raw, as a program that uses a serial line sets it
    ASSERT_EQ(::ioctl(other, TCGETS2, &raw), 0);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    ASSERT_EQ(::ioctl(other, TCSETS2, &raw), 0);
    if (flagSet) {
      ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    }
    ASSERT_TRUE(line.Send(Hex("AA 55")));
    ASSERT_EQ(WaitingAfter(other, 2), 2);

    TComPort probe(nullptr);
    EXPECT_EQ(probe.Probe(line.SlavePath()), !flagSet) << "a port whose flag is set is held";
    probe.Close();
    EXPECT_EQ(WaitingAfter(other, 2), 2) << "its input was flushed";
    int set = 0;
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &set), 0);
    EXPECT_EQ(set != 0, flagSet) << "its flag was changed";
    ::close(other);
  }
}

}  // namespace
}  // namespace quorvex::test
