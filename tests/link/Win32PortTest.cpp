// The Win32 back end on a real COM port. scripts/test-windows maps the port named by
// QUORVEX_TEST_PORT (COM5) onto a silent simulated instrument; without it these tests skip.
// Wine does not refuse a second open of a COM port, so the exclusive open (share mode 0,
// which a Windows serial driver enforces) is not tested here.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "TComPort.h"

namespace quorvex::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Win32PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("QUORVEX_TEST_PORT");
    if (name == nullptr || *name == '\0') GTEST_SKIP() << "QUORVEX_TEST_PORT is not set";
    portName = name;
  }
  TComPort MakePort() {
    return TComPort([this](std::string_view text) { messages.emplace_back(text); });
  }

  std::string portName;
  std::vector<std::string> messages;
};

TEST_F(Win32PortTest, SilentLineReadReturnsAfterTheTimeOutWithNoByte) {
  TComPort port = MakePort();
  ASSERT_TRUE(port.Open("//./" + portName));
  EXPECT_TRUE(messages.empty());
  port.TimedOut = false;
  const auto start = Clock::now();
  (void)port.ReadByte();
  const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  EXPECT_TRUE(port.TimedOut);
  EXPECT_GE(waited, milliseconds(4'900));
  EXPECT_LT(waited, milliseconds(6'000));
}

TEST_F(Win32PortTest, PortThatDoesNotExistIsReportedByName) {
  TComPort port = MakePort();
  for (const char* name : {"COM254", "COM0", "NOPORT"}) {
    messages.clear();
    EXPECT_FALSE(port.Open(std::string("//./") + name)) << name;
    EXPECT_EQ(messages, std::vector<std::string>{std::string("Ошибка открытия порта ") + name});
    EXPECT_FALSE(port.IsOpen());
    port.TimedOut = false;
    const auto start = Clock::now();
    (void)port.ReadByte();
    EXPECT_TRUE(port.TimedOut) << "no port: no byte, at once";
    EXPECT_LT(Clock::now() - start, milliseconds(100));
  }
}

}  // namespace
}  // namespace quorvex::test
