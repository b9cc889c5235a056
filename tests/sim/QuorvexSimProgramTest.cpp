// The quorvex-sim program: first line, link, clean ends.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Hex.h"
#include "LineHost.h"
#include "QuorvexVersion.h"
#include "SectorInf.h"
#include "TempFolder.h"

namespace quorvex::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvex::test::Hex;
using quorvex::test::ToHex;

// quorvex-sim running as a child, its stdout on a pipe.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUORVEX_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    child_.Start({argv, {}, process::Redirect::Pipe(), {}, {}}, &error);
  }

  // The next line on its stdout, without the newline; "" when none came in time.
  std::string Line(std::chrono::milliseconds timeout = 3s) {
    return child_.ReadLine(process::Clock::now() + timeout).value_or("");
  }

  // The exit code, or -1 when it did not exit normally within the time-out.
  int Wait(std::chrono::milliseconds timeout = 3s) {
    const auto cost = child_.WaitUntil(process::Clock::now() + timeout);
    return cost && cost->exitCode < 128 ? cost->exitCode : -1;
  }

  void Signal(int signal) const { child_.Signal(signal); }
  // Stops reading its stdout, as `quorvex-sim | head -1` does.
  void CloseStdout() { child_.CloseStdout(); }

 private:
  process::ChildProcess child_;
};

class ProgramDir : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  quorvex::test::TempFolder folder_{"quorvex-sim"};
  const fs::path& dir_ = folder_.Path();
};

TEST_F(ProgramDir, PrintsThePortServesAndEndsCleanlyOnSigterm) {
  const std::string link = (dir_ / "scanner").string();
  SimProcess sim({"--link", link});
  const std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  EXPECT_EQ(fs::read_symlink(link).string(), port);
  {
    test::LineHost host(link);
    ASSERT_TRUE(host.Write(Hex("01 00 02 FC")));
    EXPECT_EQ(ToHex(host.Read(6)), "03 00 FD 45 B3 07");
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(ProgramDir, ExitsWithZeroWhenTheFaultHangsUpTheLine) {
  SimProcess sim({"--fault", "hangup-after=0"});
  const std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  test::LineHost host(port);
  ASSERT_TRUE(host.Write(Hex("02 00 32 00 CB")));
  EXPECT_EQ(ToHex(host.Read(4)), "01 00 CD 31");
  EXPECT_EQ(sim.Line(), "quorvex-sim: line hung up after the image block given to hangup-after");
  EXPECT_EQ(sim.Wait(), 0);
}

// A reader that has gone away neither ends the service nor the clean exit: the line keeps
// being answered, and the hang-up line that can no longer be printed ends it with 0.
TEST_F(ProgramDir, ServesOnAfterItsReaderHasGone) {
  SimProcess sim({"--fault", "hangup-after=0"});
  const std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  sim.CloseStdout();
  test::LineHost host(port);
  ASSERT_TRUE(host.Write(Hex("01 00 02 FC")));
  EXPECT_EQ(ToHex(host.Read(6)), "03 00 FD 45 B3 07");
  ASSERT_TRUE(host.Write(Hex("02 00 32 00 CB")));
  EXPECT_EQ(ToHex(host.Read(4)), "01 00 CD 31");
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(ProgramDir, BadFaultIsABadArgument) {
  SimProcess sim({"--fault", "explode"});
  EXPECT_EQ(sim.Wait(), 2);
}

// Bad values of --come-and-go, and --come-and-go with --state: exit 2 before any port exists.
struct BadArguments {
  const char* name;
  std::vector<std::string> args;
};

void PrintTo(const BadArguments& b, std::ostream* os) { *os << b.name; }

class ProgramRefuses : public ::testing::TestWithParam<BadArguments> {};

TEST_P(ProgramRefuses, WithExitTwoAndNoPort) {
  SimProcess sim(GetParam().args);
  EXPECT_EQ(sim.Wait(), 2);
  EXPECT_EQ(sim.Line(100ms), "");
}

const BadArguments kBadArguments[] = {
    {"PresentZero", {"--come-and-go", "0,50"}},
    {"AbsentZero", {"--come-and-go", "50,0"}},
    {"PresentOverAnHour", {"--come-and-go", "3600001,50"}},
    {"AbsentOverAnHour", {"--come-and-go", "50,3600001"}},
    {"Negative", {"--come-and-go", "-5,50"}},
    {"OnlyOne", {"--come-and-go", "50"}},
    {"AbsentMissing", {"--come-and-go", "50,"}},
    {"PresentMissing", {"--come-and-go", ",50"}},
    {"Three", {"--come-and-go", "50,50,50"}},
    {"NotANumber", {"--come-and-go", "fifty,50"}},
    {"Fraction", {"--come-and-go", "50.5,50"}},
    {"Empty", {"--come-and-go", ""}},
    {"WithAStateFile", {"--come-and-go", "50,50", "--state", "/nonexistent/state.bin"}},
};

INSTANTIATE_TEST_SUITE_P(BadArguments, ProgramRefuses, ::testing::ValuesIn(kBadArguments),
                         [](const auto& info) { return std::string(info.param.name); });

// Units coming and going in the program: a host asks every few ms; the record names the unit that
// answered each request, from 1 on, in order, and the slot was silent in between.
TEST_F(ProgramDir, UnitsComeAndGoAndTheRecordNamesThem) {
  const std::string record = (dir_ / "record.txt").string();
  SimProcess sim({"--come-and-go", "40,40", "--record", record});
  const std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  test::LineHost host(port);
  ASSERT_TRUE(host.Open());
  int answered = 0;
  int unanswered = 0;
  // Long enough for four units even when the machine is busy and the host is late to ask.
  const auto end = std::chrono::steady_clock::now() + 800ms;
  while (std::chrono::steady_clock::now() < end) {
    ASSERT_TRUE(host.Write(Hex("01 00 02 FC")));
    const std::string reply = ToHex(host.Read(6, 5ms));
    if (reply.empty()) {
      ++unanswered;
    } else {
      ++answered;
    }
  }
  sim.Signal(SIGTERM);
  ASSERT_EQ(sim.Wait(), 0);
  EXPECT_GT(answered, 0);
  EXPECT_GT(unanswered, 0);

  std::ifstream in(record);
  std::vector<int> units;
  for (std::string line; std::getline(in, line);) {
    // "unit 2 at 12.5 ms: 02": a request reaches a unit while it is present.
    int unit = 0;
    double ms = -1;
    char request[8] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "unit %d at %lf ms: %7s", &unit, &ms, request), 3) << line;
    EXPECT_STREQ(request, "02") << line;
    EXPECT_GE(ms, 0) << line;
    // Within its unit's 40 ms, and a late wake-up of a busy machine; never counted from the
    // start, as the later units show.
    EXPECT_LT(ms, 40 + 100) << line;
    units.push_back(unit);
  }
  ASSERT_FALSE(units.empty());
  EXPECT_EQ(units.front(), 1);
  EXPECT_TRUE(std::is_sorted(units.begin(), units.end()));
  EXPECT_GE(units.back(), 3) << "800 ms of 40 ms present, 40 ms absent";
}

TEST_F(ProgramDir, PrintsItsVersion) {
  SimProcess sim({"--version"});
  EXPECT_EQ(sim.Line(), std::string("quorvex-sim ") + kVersion);
  EXPECT_EQ(sim.Wait(), 0);
}

// The sample firmware of the demonstration, read back as the programmer reads a file.
TEST_F(ProgramDir, WritesASampleFirmwareNamedInWindows1251) {
  const std::string path = (dir_ / "sample.fls").string();
  SimProcess sim({"--write-sample", path, "--sample-name", "Тест Windows"});
  ASSERT_EQ(sim.Wait(), 0);
  FileBytes raw{};
  ASSERT_EQ(ReadFirmwareFile(path, raw, nullptr), FileStatus::Ok);
  FileBytes image{};
  DecodeImage(raw, image);
  const SectorInf block = DeriveSectorInf(image);
  EXPECT_EQ(SectorName(block), "Тест Windows");
  EXPECT_TRUE(IsWritten(block));
}

TEST_F(ProgramDir, SampleNameThatDoesNotFitIsABadArgument) {
  const std::string path = (dir_ / "sample.fls").string();
  for (const char* name : {"NINETEEN CHARACTERS", "名前"}) {
    SimProcess sim({"--write-sample", path, "--sample-name", name});
    EXPECT_EQ(sim.Wait(), 2) << name;
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace quorvex::sim
