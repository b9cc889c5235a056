// Ctrl-C at any moment of a device command: the run sends nothing more, logs "Стоп" and ends
// with exit code 3. The instrument is a quorvex-sim process whose every answer comes late,
// so that the signal arrives while the command waits at a known step.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Processes.h"

namespace quorvex::test {
namespace {

struct StopCase {
  const char* name;
  std::vector<std::string> command;   // "FW" is the firmware file
  int delayMs;                        // how late every answer of the instrument comes
  std::string waitFor;                // Ctrl-C once stdout holds this, and the answer is due
  std::vector<std::string> requests;  // the request codes that reached the instrument
  std::string logEnd;                 // how stdout ends
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class CtrlCTest : public ::testing::TestWithParam<StopCase> {};

// The first byte of each request the instrument recorded.
std::vector<std::string> Codes(const std::vector<std::string>& requests) {
  std::vector<std::string> codes;
  codes.reserve(requests.size());
  for (const std::string& r : requests) codes.push_back(r.substr(0, 2));
  return codes;
}

TEST_P(CtrlCTest, NoRequestAfterTheStop) {
  const StopCase& c = GetParam();
  Workspace ws;
  SimProcess sim(ws.Dir(), {"--fault", "delay-ms=" + std::to_string(c.delayMs)});
  ASSERT_TRUE(sim.Ready());
  std::vector<std::string> args{"-p", sim.Port(), "-y", "-q"};
  for (const std::string& arg : c.command) args.push_back(arg == "FW" ? ws.Firmware() : arg);
  CliProcess cli(ws.Dir(), ws.Config(), args);
  bool seen = false;
  for (int i = 0; i < 1500 && !seen; ++i) {
    seen = cli.OutputSoFar().find(c.waitFor) != std::string::npos;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(seen) << cli.OutputSoFar();
  // The request of that step is out by now, its answer not yet in.
  std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs / 3));
  cli.Signal(SIGINT);
  const CliResult result = cli.Wait();
  sim.Stop();
  EXPECT_EQ(result.code, 3) << result.err;
  EXPECT_TRUE(result.out.ends_with(c.logEnd)) << result.out;
  EXPECT_EQ(Codes(sim.Requests()), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CtrlCTest,
    ::testing::ValuesIn(std::vector<StopCase>{
        // Stopped before the information block: the instrument was only asked its version.
        {"ProgramDuringTheDeviceCheck",
         {"program", "FW", "-s", "3"},
         1500,
         "Открыт файл: ",
         {"02"},
         "Чтение файла...\nОК\nСтоп\n"},
        {"ProgramDuringTheErase",
         {"program", "FW", "-s", "3"},
         600,
         "Стирание...\n",
         {"02", "33", "30", "31"},
         "Стирание...\nОК\nСтоп\n"},
        {"ListDuringTheDeviceCheck", {"list"}, 1500, "", {"02"}, "Стоп\n"},
        {"ClearDuringTheDeviceCheck", {"clear", "3"}, 1500, "", {"02"}, "Стоп\n"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The listing stops between two sectors: every sector asked for is listed, then "Стоп".
TEST(CtrlCDuringTheListing, StopsBetweenTwoSectors) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {"--fault", "delay-ms=60"});
  ASSERT_TRUE(sim.Ready());
  CliProcess cli(ws.Dir(), ws.Config(), {"-p", sim.Port(), "list"});
  bool seen = false;
  for (int i = 0; i < 1500 && !seen; ++i) {
    seen = cli.OutputSoFar().find("Cектор 3 ") != std::string::npos;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(seen);
  cli.Signal(SIGINT);
  const CliResult result = cli.Wait();
  sim.Stop();
  EXPECT_EQ(result.code, 3) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_GE(lines.size(), 4u);
  ASSERT_LT(lines.size(), 64u);
  EXPECT_EQ(lines.back(), "Стоп");
  const std::vector<std::string> codes = Codes(sim.Requests());
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), "02");
  EXPECT_EQ(codes.size(), 1 + (lines.size() - 1)) << "one read for each listed sector, no more";
}

// A service manager's stop (SIGTERM) and a closed terminal (SIGHUP) are a stop like Ctrl-C, at
// the device check and in the middle of a paced transfer: "Стоп", exit 3, the audit record
// written, and the port released, so that the next command on it works at once (the suite
// also runs as a user who cannot override a port left held).
struct EndCase {
  const char* name;
  int signal;
  std::vector<std::string> simOptions;
  std::string waitFor;  // the signal once stdout holds this
  int afterMs;          // and this much later
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class EndSignalTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndSignalTest, IsAStopWithItsRecordAndThePortReleased) {
  const EndCase& c = GetParam();
  Workspace ws;
  SimProcess sim(ws.Dir(), c.simOptions);
  ASSERT_TRUE(sim.Ready());
  const std::string audit = (ws.Dir() / "audit.jsonl").string();
  CliProcess cli(
      ws.Dir(), ws.Config(),
      {"-p", sim.Port(), "-y", "-q", "--log-file", audit, "program", ws.Firmware(), "-s", "3"});
  bool seen = false;
  for (int i = 0; i < 1500 && !seen; ++i) {
    seen = cli.OutputSoFar().find(c.waitFor) != std::string::npos;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(seen) << cli.OutputSoFar();
  std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
  cli.Signal(c.signal);
  const CliResult result = cli.Wait();
  EXPECT_EQ(result.code, 3) << result.err;
  EXPECT_TRUE(result.out.ends_with("Стоп\n")) << result.out;
  const std::vector<std::string> records = Lines(Slurp(audit));
  ASSERT_EQ(records.size(), 1u) << Slurp(audit);
  const nlohmann::json record = nlohmann::json::parse(records.front());
  EXPECT_EQ(record.at("exit"), 3);
  EXPECT_EQ(record.at("log").back(), "Стоп");

  const CliResult next = ws.Run({"-p", sim.Port(), "check"});
  EXPECT_EQ(next.code, 0) << next.out << next.err;
  EXPECT_EQ(next.out, "loader version 45 B3\n");
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EndSignalTest,
    ::testing::ValuesIn(std::vector<EndCase>{
        {"TermDuringTheDeviceCheck", SIGTERM, {"--fault", "delay-ms=1500"}, "Открыт файл: ", 500},
        {"HangUpDuringTheDeviceCheck", SIGHUP, {"--fault", "delay-ms=1500"}, "Открыт файл: ", 500},
        {"TermDuringTheTransfer", SIGTERM, {"--pace"}, "Программирование...\n", 1500},
        {"HangUpDuringTheTransfer", SIGHUP, {"--pace"}, "Программирование...\n", 1500},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
