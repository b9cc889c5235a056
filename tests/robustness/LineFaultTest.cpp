// The line itself failing: an adapter pulled out in the middle of a transfer, and a port that
// another program holds.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Processes.h"
#include "Texts.h"

namespace quorvex::test {
namespace {

using namespace std::chrono_literals;

// Process start-up and a loaded machine: far below one read time-out (5,001 ms).
constexpr double kSlack = 3.0;
// The pauses of a programming run whatever the line does: 64 x 10 ms and 1,000 ms.
constexpr double kRunPauses = 1.64;

// The window's message, and the command line's own line with the cause.
std::string PortBusy(const std::string& port) {
  return "Quorvex: Ошибка открытия порта " + port +
         "\nquorvex-cli: the port is held by another program: close that program (a terminal, "
         "another quorvex) and try again\n";
}

std::string PortGone(const std::string& port) {
  return "Quorvex: Ошибка открытия порта " + port +
         "\nquorvex-cli: no such port; 'quorvex-cli ports' lists the ports that can be opened\n";
}

TEST(UnpluggedAdapterTest, RunEndsPromptlyWithoutSpinningAndTheNextCommandReportsThePort) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {"--fault", "hangup-after=200"});
  ASSERT_TRUE(sim.Ready());
  const std::string firmware = ws.Firmware();

  const CliResult run = ws.Run({"-q", "-p", sim.Port(), "program", firmware, "-s", "5"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, std::string(text::kCaptionFinish) + ": " + text::kReceiveFailure + "\n");
  const std::vector<std::string> log = Lines(run.out);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Ошибка завершения программирования");
  // Every read after the hang-up fails at once: no read waits out its time-out, and none spins.
  EXPECT_LT(run.seconds, kRunPauses + kSlack);
  EXPECT_LT(run.cpuSeconds, 0.5);

  ASSERT_EQ(sim.WaitForExit(5s), 0) << "the simulator hangs up and ends by itself";
  const CliResult next = ws.Run({"-q", "-p", sim.Port(), "check"});
  EXPECT_EQ(next.code, 1);
  EXPECT_EQ(next.err, PortGone(sim.Port()));
  EXPECT_EQ(next.out, "");
  EXPECT_LT(next.seconds, kSlack);
}

// A loader that falls silent in the middle of the stream: three blocks without an answer end
// it, and the finish reports the failure as ever, within half a minute rather than the 43
// minutes that every block's time-out would add up to.
TEST(SilentLoaderTest, RunFailsAtTheFinishWithinHalfAMinute) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {"--fault", "mute-after=100"});
  ASSERT_TRUE(sim.Ready());
  const CliResult run = ws.Run({"-q", "-p", sim.Port(), "program", ws.Firmware(), "-s", "5"});
  EXPECT_EQ(run.code, 1);
  // This loader speaks again once the host has been quiet for 5.5 s, as one that was reset
  // would: by the finish request it may be back, and its verdict is then a failed checksum;
  // otherwise the finish gets no reply. Either way the failure is the finish's.
  EXPECT_TRUE(run.err.starts_with(std::string(text::kCaptionFinish) + ": ")) << run.err;
  const std::vector<std::string> log = Lines(run.out);
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.back() == "Ошибка завершения программирования" ||
              log.back() == "Ошибка контрольной суммы микропрограммы")
      << log.back();
  // Three block time-outs, the pause, at most the finish's time-out: about 21 s.
  EXPECT_LT(run.seconds, 25.0);
}

// Waits until the running command's log holds `line`.
bool WaitForLine(const CliProcess& cli, const std::string& line) {
  for (int i = 0; i < 500; ++i) {
    if (cli.OutputSoFar().find(line + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(BusyPortTest, ASecondQuorvexIsRefusedAndTheFirstRunCarriesOn) {
  Workspace ws;
  // Paced like a real line, the image alone takes over ten seconds.
  SimProcess sim(ws.Dir(), {"--pace"});
  ASSERT_TRUE(sim.Ready());
  const std::string firmware = ws.Firmware();

  CliProcess first(ws.Dir(), ws.Config(), {"-q", "-p", sim.Port(), "program", firmware, "-s", "5"});
  ASSERT_TRUE(WaitForLine(first, "Программирование..."));

  const CliResult check = ws.Run({"-q", "-p", sim.Port(), "check"});
  EXPECT_EQ(check.code, 1);
  EXPECT_EQ(check.err, PortBusy(sim.Port()));
  EXPECT_EQ(check.out, "");
  const CliResult program = ws.Run({"-q", "-p", sim.Port(), "program", firmware, "-s", "6"});
  EXPECT_EQ(program.code, 1);
  EXPECT_EQ(program.err, PortBusy(sim.Port()));
  EXPECT_EQ(program.out, "Открыт файл: " + firmware + "\n");
  EXPECT_NE(first.OutputSoFar().find("Программирование...\n"), std::string::npos);

  const CliResult result = first.Wait();
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> log = Lines(result.out);
  ASSERT_EQ(log.size(), 9u) << result.out;
  EXPECT_EQ(log.front(), "Открыт файл: " + firmware);
  EXPECT_EQ(log.back(), "ОК");

  sim.Stop();
  const std::vector<std::string> expected{"02", "33 E1 00", "30 E1 00", "31 04", "32 04", "35 04"};
  EXPECT_EQ(sim.Requests(), expected) << "the refused commands sent nothing";
}

TEST(BusyPortTest, AnyProgramHoldingTheLockKeepsThePort) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {});
  ASSERT_TRUE(sim.Ready());
  const int holder = ::open(sim.Port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

  const CliResult held = ws.Run({"-q", "-p", sim.Port(), "check"});
  EXPECT_EQ(held.code, 1);
  EXPECT_EQ(held.err, PortBusy(sim.Port()));

  ::flock(holder, LOCK_UN);
  ::close(holder);
  const CliResult freed = ws.Run({"-q", "-p", sim.Port(), "check"});
  EXPECT_EQ(freed.code, 0) << freed.err;
  EXPECT_EQ(freed.out, "loader version 45 B3\n");

  sim.Stop();
  EXPECT_EQ(sim.Requests(), std::vector<std::string>{"02"}) << "only the second check reached it";
}

}  // namespace
}  // namespace quorvex::test
