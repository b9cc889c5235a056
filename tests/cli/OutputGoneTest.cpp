// Output that goes away mid-run: a reader that closes its pipe after the first line, a
// stream on a full disk. The run goes on to its end on the wire, the audit record is
// written, and the exit code is the run's own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FirmwareImage.h"
#include "FlashState.h"
#include "Processes.h"
#include "SampleFirmware.h"
#include "Sha256.h"
#include "SimulatedInstrument.h"

namespace quorvex::test {
namespace {

using nlohmann::json;

enum class Sink {
  File,                      // a file the test reads afterwards
  PipeClosedAfterFirstLine,  // | head -1
  FullDisk,                  // /dev/full: every write fails with ENOSPC
};

struct GoneCase {
  const char* name;
  bool json;
  Sink out;
  Sink err;
  std::vector<std::string> simOptions;
  int code;               // the run's own exit code
  std::string errNeedle;  // stderr (when a file) holds this once; "" : stderr stays empty
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.name; }

process::Redirect RedirectOf(Sink sink, const fs::path& file) {
  switch (sink) {
    case Sink::File:
      return process::Redirect::ToFile(file.string());
    case Sink::PipeClosedAfterFirstLine:
      return process::Redirect::Pipe();
    case Sink::FullDisk:
      return process::Redirect::ToFile("/dev/full");
  }
  return process::Redirect::Null();
}

std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

class OutputGoneTest : public ::testing::TestWithParam<GoneCase> {};

TEST_P(OutputGoneTest, RunEndsOnTheWireWithItsAuditRecordAndItsOwnExitCode) {
  const GoneCase& c = GetParam();
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Workspace ws;
  const std::string state = (ws.Dir() / "flash.state").string();
  // Every answer a little late, so that most of the run comes after the reader has gone.
  std::vector<std::string> simOptions = {"--state", state, "--fault", "delay-ms=2"};
  simOptions.insert(simOptions.end(), c.simOptions.begin(), c.simOptions.end());
  SimProcess sim(ws.Dir(), simOptions);
  ASSERT_TRUE(sim.Ready());
  const std::string fw = ws.Firmware();
  const std::string audit = (ws.Dir() / "audit.jsonl").string();
  const fs::path out = ws.Dir() / "stdout";
  const fs::path err = ws.Dir() / "stderr";

  std::vector<std::string> argv = {QUORVEX_CLI, "-p", sim.Port(), "-y", "-q", "--log-file", audit};
  if (c.json) argv.push_back("--json");
  argv.insert(argv.end(), {"program", fw, "-s", "3"});
  process::ChildProcess cli;
  std::string error;
  ASSERT_TRUE(cli.Start({argv,
                         {"XDG_CONFIG_HOME=" + ws.Config().string()},
                         RedirectOf(c.out, out),
                         RedirectOf(c.err, err),
                         {}},
                        &error))
      << error;
  if (c.out == Sink::PipeClosedAfterFirstLine) {
    const auto first = cli.ReadLine(Clock::now() + std::chrono::seconds(10));
    ASSERT_TRUE(first.has_value());
    EXPECT_NE(first->find("Открыт файл: "), std::string::npos) << *first;
    cli.CloseStdout();
  }
  const process::ChildCost ended = cli.Wait();
  EXPECT_EQ(ended.exitCode, c.code);

  // The audit record: whole, of this run, ended as the run ended.
  const std::vector<std::string> lines = Lines(Slurp(audit));
  ASSERT_EQ(lines.size(), 1U);
  const json record = json::parse(lines.front(), nullptr, false);
  ASSERT_FALSE(record.is_discarded()) << lines.front();
  EXPECT_EQ(record.at("exit"), c.code);
  EXPECT_EQ(record.at("log").at(7), "Программирование...");
  const std::string bytes = Slurp(fw);
  EXPECT_EQ(record.at("sha256"),
            Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));

  // The instrument holds the whole image: the transfer was not cut short.
  sim.Stop();
  sim::FlashState flash;
  ASSERT_TRUE(flash.Load(state, &error)) << error;
  const FileBytes image = SampleImage("ROBUST", false);
  const auto sector = flash.Sector(2);
  EXPECT_TRUE(std::equal(sector.begin(), sector.end(), image.begin()));

  if (c.err == Sink::File) {
    const std::string text = Slurp(err);
    if (c.errNeedle.empty()) {
      EXPECT_EQ(text, "");
    } else {
      EXPECT_EQ(Occurrences(text, c.errNeedle), 1U) << text;
    }
  }
  if (c.out == Sink::File) {
    // A stream that failed is noted on the other one, never on stdout, which a script reads.
    EXPECT_EQ(Slurp(out).find("quorvex-cli"), std::string::npos) << Slurp(out);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, OutputGoneTest,
    ::testing::ValuesIn(std::vector<GoneCase>{
        // A reader that has read all it wanted is no failure: nothing to say about it.
        {"TextReaderGoneAfterFirstLine",
         false,
         Sink::PipeClosedAfterFirstLine,
         Sink::File,
         {},
         0,
         ""},
        {"JsonReaderGoneAfterFirstLine",
         true,
         Sink::PipeClosedAfterFirstLine,
         Sink::File,
         {},
         0,
         ""},
        {"TextStdoutOnFullDisk",
         false,
         Sink::FullDisk,
         Sink::File,
         {},
         0,
         "quorvex-cli: cannot write to stdout"},
        {"JsonStdoutOnFullDisk",
         true,
         Sink::FullDisk,
         Sink::File,
         {},
         0,
         "quorvex-cli: cannot write to stdout"},
        // The failure's message cannot be shown; the failure still ends the run with 1.
        {"StderrOnFullDisk",
         false,
         Sink::File,
         Sink::FullDisk,
         {"--fault", "checksum-mismatch"},
         1,
         ""},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// Started with a standard stream closed (a scheduler, a service unit, `>&-`): no port and no
// file takes that stream's number, so nothing but the loader's requests reaches the line and
// nothing but JSON lines reaches the audit file.
struct ClosedCase {
  const char* name;
  std::vector<std::string> command;  // "FW" is the firmware file
  bool closeIn;
  bool closeOut;
  bool closeErr;
  bool writtenSector;  // sector 3 holds a program already: the question is asked
  int code;
};

void PrintTo(const ClosedCase& c, std::ostream* os) { *os << c.name; }

// Every byte a host sends for these requests: each frame (length, zero, payload, check), the
// 64 raw bytes after a block write, the 65,536 image bytes after an init.
std::size_t WireBytesOf(const std::vector<sim::RequestRecord>& requests) {
  std::size_t bytes = 0;
  for (const sim::RequestRecord& r : requests) {
    bytes += r.payload.size() + 3;
    if (r.code == 0x30) bytes += 64;
    if (r.code == 0x32) bytes += kFirmwareSize;
  }
  return bytes;
}

class ClosedStreamTest : public ::testing::TestWithParam<ClosedCase> {};

TEST_P(ClosedStreamTest, OnlyRequestsReachTheLineAndOnlyRecordsTheAuditFile) {
  const ClosedCase& c = GetParam();
  Workspace ws;
  sim::SimulatedInstrument instrument;
  std::string error;
  ASSERT_TRUE(instrument.Start(&error)) << error;
  if (c.writtenSector) {
    std::array<std::uint8_t, sim::kBlockBytes> block{};
    block[0] = 'A';
    block[62] = 0x55;
    block[63] = 0xAA;
    instrument.SetBlock(3, block);
  }
  const std::string audit = (ws.Dir() / "audit.jsonl").string();
  std::vector<std::string> argv = {QUORVEX_CLI,  "-p", instrument.PortPath(), "-y", "-q",
                                   "--log-file", audit};
  for (const std::string& arg : c.command) argv.push_back(arg == "FW" ? ws.Firmware() : arg);
  const fs::path out = ws.Dir() / "stdout";
  const fs::path err = ws.Dir() / "stderr";
  process::ChildProcess cli;
  ASSERT_TRUE(
      cli.Start({argv,
                 {"XDG_CONFIG_HOME=" + ws.Config().string()},
                 c.closeOut ? process::Redirect::Closed() : process::Redirect::ToFile(out.string()),
                 c.closeErr ? process::Redirect::Closed() : process::Redirect::ToFile(err.string()),
                 c.closeIn ? process::Redirect::Closed() : process::Redirect::Null()},
                &error))
      << error;
  const process::ChildCost ended = cli.Wait();
  EXPECT_EQ(ended.exitCode, c.code) << (c.closeErr ? "" : Slurp(err));

  const std::vector<sim::RequestRecord> requests = instrument.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(instrument.Received().size(), WireBytesOf(requests))
      << "bytes other than the requests reached the line";
  const std::vector<std::string> lines = Lines(Slurp(audit));
  ASSERT_EQ(lines.size(), 1U) << Slurp(audit);
  const json record = json::parse(lines.front(), nullptr, false);
  ASSERT_FALSE(record.is_discarded()) << lines.front();
  EXPECT_EQ(record.at("exit"), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ClosedStreamTest,
    ::testing::ValuesIn(std::vector<ClosedCase>{
        {"CheckWithStdoutClosed", {"check"}, false, true, false, false, 0},
        {"ListWithStdoutClosed", {"list"}, false, true, false, false, 0},
        // The box about the sector number would go out on the line.
        {"ClearOfABadSectorWithStderrClosed", {"clear", "65"}, false, false, true, false, 2},
        {"ProgramWithStdoutClosed", {"program", "FW", "-s", "3"}, false, true, false, false, 0},
        // The question and its answer went to stderr: with stderr closed they would go out on
        // the line ahead of the block write.
        {"ProgramOverAWrittenSectorWithStderrClosed",
         {"program", "FW", "-s", "3"},
         false,
         false,
         true,
         true,
         0},
        {"ProgramWithStdoutAndStderrClosed",
         {"program", "FW", "-s", "3"},
         false,
         true,
         true,
         true,
         0},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::test
