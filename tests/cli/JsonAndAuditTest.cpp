// --json and --log-file: what a script reads must say what the text says, and every line must
// parse, whatever the texts hold and however many programs append to one file.
#include <signal.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "FirmwareImage.h"
#include "FlashState.h"
#include "Processes.h"
#include "SampleFirmware.h"
#include "Sha256.h"

namespace quorvex::test {
namespace {

using nlohmann::json;

std::vector<json> Events(const std::string& out) {
  std::vector<json> events;
  for (const std::string& line : Lines(out)) {
    json event = json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << line;
    events.push_back(std::move(event));
  }
  return events;
}

std::vector<json> OfKind(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> found;
  for (const json& e : events) {
    if (e.at("event") == kind) found.push_back(e);
  }
  return found;
}

// The text a script would have read from the text output: log lines, then messages.
std::string LogText(const std::vector<json>& events) {
  std::string text;
  for (const json& e : OfKind(events, "log")) text += e.at("text").get<std::string>() + "\n";
  return text;
}

std::string Sha256Of(const std::string& bytes) {
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The audit file's records, each line parsed on its own.
std::vector<json> Records(const std::string& path) { return Events(Slurp(path)); }

// A name with a quote, a backslash and Cyrillic, as the instrument stores it (Windows-1251).
const std::string kAwkwardName = "\xD2\xE5\xF1\xF2 \"q\" \\";
const std::string kAwkwardNameUtf8 = "Тест \"q\" \\";

class JsonOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw_ = (ws_.Dir() / "name.fls").string();
    WriteFirmwareFile(fw_, SampleImage(kAwkwardName, true));  // marked: the listing names it
  }
  Workspace ws_;
  std::string fw_;
};

TEST_F(JsonOutputTest, ProgramAndListSayWhatTheTextSays) {
  SimProcess textSim(ws_.Dir(), {}, "text");
  SimProcess jsonSim(ws_.Dir(), {}, "json");
  const CliResult text = ws_.Run({"-p", textSim.Port(), "-q", "program", fw_, "-s", "12"});
  const CliResult run = ws_.Run({"--json", "-p", jsonSim.Port(), "program", fw_, "-s", "12"});
  ASSERT_EQ(text.code, 0) << text.err;
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);
  EXPECT_EQ(LogText(events), text.out);

  const std::vector<json> progress = OfKind(events, "progress");
  ASSERT_GE(progress.size(), 2U);
  int last = 0;
  for (const json& p : progress) {
    EXPECT_EQ(p.at("port"), jsonSim.Port());
    EXPECT_GE(p.at("percent").get<int>(), last);
    last = p.at("percent").get<int>();
    EXPECT_EQ(p.at("total"), 65536);
  }
  EXPECT_EQ(progress.back().at("percent"), 100);
  EXPECT_EQ(progress.back().at("bytes"), 65536);

  const std::vector<json> results = OfKind(events, "result");
  ASSERT_EQ(results.size(), 1U);
  const json& result = results.front();
  EXPECT_EQ(result.at("command"), "program");
  EXPECT_EQ(result.at("exit"), 0);
  EXPECT_EQ(result.at("file"), fw_);
  const std::string bytes = Slurp(fw_);
  EXPECT_EQ(result.at("sha256"),
            Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  EXPECT_EQ(result.at("sector"), 12);
  EXPECT_EQ(result.at("name"), kAwkwardNameUtf8);

  const CliResult listText = ws_.Run({"-p", jsonSim.Port(), "list"});
  const CliResult list = ws_.Run({"--json", "-p", jsonSim.Port(), "list"});
  ASSERT_EQ(list.code, 0);
  const std::vector<json> listed = Events(list.out);
  EXPECT_EQ(LogText(listed), listText.out);
  const std::vector<json> sectors = OfKind(listed, "sector");
  ASSERT_EQ(sectors.size(), 64U);
  for (int n = 1; n <= 64; ++n) {
    const json& s = sectors[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(s.at("sector"), n);
    EXPECT_EQ(s.at("loaded"), n == 12);
    EXPECT_EQ(s.at("name"), n == 12 ? json(kAwkwardNameUtf8) : json(nullptr));
  }
}

TEST_F(JsonOutputTest, FailedCheckIsAMessageAndAResultWithItsExitCode) {
  SimProcess sim(ws_.Dir(), {"--fault", "version=1234"});
  const CliResult text = ws_.Run({"-p", sim.Port(), "check"});
  const CliResult run = ws_.Run({"--json", "-p", sim.Port(), "check"});
  ASSERT_EQ(text.code, 1);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);
  EXPECT_EQ(LogText(events), text.out);
  std::string messages;
  for (const json& m : OfKind(events, "message")) {
    messages += m.at("caption").get<std::string>() + ": " + m.at("text").get<std::string>() + "\n";
  }
  EXPECT_EQ(messages, text.err);
  const std::vector<json> results = OfKind(events, "result");
  ASSERT_EQ(results.size(), 1U);
  EXPECT_EQ(results.front().at("exit"), 1);
  EXPECT_EQ(results.front().at("command"), "check");
  EXPECT_FALSE(results.front().contains("file"));
}

// Two programs, two instruments each, appending to one file at the same time: four whole
// lines, each a complete record of its run.
TEST(AuditLogTest, TwoProgramsAppendWholeRecordsToOneFile) {
  Workspace ws;
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (const char* name : {"a", "b", "c", "d"}) {
    sims.push_back(std::make_unique<SimProcess>(ws.Dir(), std::vector<std::string>{}, name));
  }
  const std::string log = (ws.Dir() / "audit.log").string();
  const std::string fw = ws.Firmware();
  CliProcess first(ws.Dir(), ws.Config(),
                   {"--log-file", log, "-p", sims[0]->Port(), "-p", sims[1]->Port(), "list"});
  CliProcess second(ws.Dir(), ws.Config(),
                    {"--log-file", log, "-p", sims[2]->Port(), "-p", sims[3]->Port(), "-q",
                     "program", fw, "-s", "3"});
  EXPECT_EQ(first.Wait().code, 0);
  EXPECT_EQ(second.Wait().code, 0);

  const std::vector<std::string> lines = Lines(Slurp(log));
  ASSERT_EQ(lines.size(), 4U);
  std::vector<std::string> ports;
  for (const std::string& line : lines) {
    const json record = json::parse(line, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << line;
    ports.push_back(record.at("port"));
    EXPECT_EQ(record.at("exit"), 0);
    EXPECT_TRUE(record.at("time").get<std::string>().ends_with("Z"));
    EXPECT_FALSE(record.at("user").get<std::string>().empty());
    EXPECT_TRUE(record.at("usb_serial").is_null());
    if (record.at("command") == "list") {
      EXPECT_EQ(record.at("log").size(), 64U);
      EXPECT_TRUE(record.at("file").is_null());
    } else {
      EXPECT_EQ(record.at("command"), "program");
      EXPECT_EQ(record.at("file"), fw);
      EXPECT_EQ(record.at("sector"), 3);
      EXPECT_EQ(record.at("name"), "ROBUST");
      EXPECT_EQ(record.at("sha256").get<std::string>().size(), 64U);
      EXPECT_EQ(record.at("log").back(), "ОК");
    }
  }
  std::sort(ports.begin(), ports.end());
  std::vector<std::string> expected;
  expected.reserve(sims.size());
  for (const auto& sim : sims) expected.push_back(sim->Port());
  EXPECT_EQ(ports, expected);
}

// A file that cannot be used ends with a result too, of no port, so that a script reading
// the events always learns how the command ended.
TEST_F(JsonOutputTest, UnusableFileEndsWithAResultOfNoPort) {
  const std::string missing = (ws_.Dir() / "missing.fls").string();
  const CliResult run = ws_.Run({"--json", "--simulate", "program", missing, "-s", "7"});
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);
  ASSERT_FALSE(events.empty());
  const json& result = events.back();
  EXPECT_EQ(result.at("event"), "result");
  EXPECT_FALSE(result.contains("port"));
  EXPECT_EQ(result.at("command"), "program");
  EXPECT_EQ(result.at("exit"), 2);
  EXPECT_EQ(result.at("file"), missing);
  EXPECT_TRUE(result.at("sha256").is_null());
  EXPECT_EQ(result.at("sector"), 7);
}

// A command that ends before any port is opened ends with its result too: no port chosen, a
// port named twice, an audit file that cannot be opened.
TEST_F(JsonOutputTest, EveryEndBeforeAnyPortIsAResult) {
  const std::string folder = ws_.Dir().string();
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases{
      {"no port", {"--json", "check"}},
      {"a port twice", {"--json", "-p", "/dev/ttyQVX0", "-p", "/dev/ttyQVX0", "check"}},
      {"an audit file that cannot be opened",
       {"--json", "--simulate", "--log-file", folder, "list"}},
  };
  for (const auto& [name, args] : cases) {
    SCOPED_TRACE(name);
    const CliResult run = ws_.Run(args);
    EXPECT_EQ(run.code, 2);
    const std::vector<json> events = Events(run.out);
    ASSERT_EQ(events.size(), 1u) << run.out;
    EXPECT_EQ(events.back().at("event"), "result");
    EXPECT_EQ(events.back().at("exit"), 2);
    EXPECT_FALSE(events.back().contains("port"));
  }
}

// Progress events, timed as a script reads them: two ports, each transfer slowed so that it
// takes far longer than a tenth of a second per block answer would allow unthrottled.
TEST_F(JsonOutputTest, ProgressComesAtMostTenTimesASecondPerPort) {
  SimProcess a(ws_.Dir(), {"--fault", "delay-ms=2"}, "a");
  SimProcess b(ws_.Dir(), {"--fault", "delay-ms=2"}, "b");
  ASSERT_TRUE(a.Ready() && b.Ready());
  process::ChildProcess cli;
  std::string error;
  const auto started = Clock::now();
  ASSERT_TRUE(
      cli.Start({{QUORVEX_CLI, "--json", "-p", a.Port(), "-p", b.Port(), "program", fw_, "-s", "4"},
                 {"XDG_CONFIG_HOME=" + ws_.Config().string()},
                 process::Redirect::Pipe(),
                 process::Redirect::Null(),
                 {}},
                &error))
      << error;
  std::map<std::string, std::vector<json>> progress;
  auto lastRead = started;
  while (const auto line = cli.ReadLine(Clock::now() + std::chrono::seconds(60))) {
    const json event = json::parse(*line, nullptr, false);
    ASSERT_FALSE(event.is_discarded()) << *line;
    lastRead = Clock::now();
    if (event.at("event") == "progress") progress[event.at("port")].push_back(event);
  }
  ASSERT_EQ(cli.Wait().exitCode, 0);
  const double seconds = std::chrono::duration<double>(lastRead - started).count();
  ASSERT_EQ(progress.size(), 2U);
  for (const auto& [port, events] : progress) {
    EXPECT_GE(events.size(), 2U) << port;
    EXPECT_LE(static_cast<double>(events.size()), 10 * seconds + 2)
        << port << ": " << events.size() << " events in " << seconds << " s";
    EXPECT_EQ(events.back().at("percent"), 100) << port;
  }
}

struct AuditFailureCase {
  const char* name;
  bool json;
};

void PrintTo(const AuditFailureCase& c, std::ostream* os) { *os << c.name; }

class AuditFailureTest : public ::testing::TestWithParam<AuditFailureCase> {};

// A record that cannot be written fails the port's run, and says so naming the file.
TEST_P(AuditFailureTest, ExitOneNamingTheFile) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Workspace ws;
  std::vector<std::string> args = {"--simulate", "--log-file", "/dev/full", "check"};
  if (GetParam().json) args.insert(args.begin(), "--json");
  const CliResult run = ws.Run(args);
  EXPECT_EQ(run.code, 1);
  const std::string why = "cannot write the audit record to /dev/full: ";
  if (!GetParam().json) {
    EXPECT_NE(run.err.find("quorvex-cli: " + why), std::string::npos) << run.err;
    return;
  }
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);
  const std::vector<json> messages = OfKind(events, "message");
  ASSERT_EQ(messages.size(), 1U) << run.out;
  EXPECT_EQ(messages.front().at("caption"), "quorvex-cli");
  EXPECT_TRUE(messages.front().contains("port"));
  EXPECT_TRUE(messages.front().at("text").get<std::string>().starts_with(why)) << run.out;
  const std::vector<json> results = OfKind(events, "result");
  ASSERT_EQ(results.size(), 1U);
  EXPECT_EQ(results.front().at("exit"), 1);
}

INSTANTIATE_TEST_SUITE_P(Outputs, AuditFailureTest,
                         ::testing::ValuesIn(std::vector<AuditFailureCase>{{"Text", false},
                                                                           {"Json", true}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A record read later, from anywhere, says which folder the file was in; the result event
// keeps the path as the script gave it.
TEST(AuditLogTest, FileIsAbsoluteAndTheResultKeepsItAsGiven) {
  Workspace ws;
  const std::string fw = ws.Firmware();
  const std::string given = fs::relative(fw, fs::current_path()).string();
  ASSERT_FALSE(given.empty());
  ASSERT_FALSE(fs::path(given).is_absolute());
  const std::string log = (ws.Dir() / "audit.jsonl").string();
  const CliResult run =
      ws.Run({"--json", "--simulate", "--log-file", log, "program", given, "-s", "2"});
  ASSERT_EQ(run.code, 0) << run.out;
  const std::vector<json> records = Records(log);
  ASSERT_EQ(records.size(), 1U);
  const std::string file = records.front().at("file");
  EXPECT_TRUE(fs::path(file).is_absolute()) << file;
  EXPECT_TRUE(fs::equivalent(file, fw)) << file;
  const std::vector<json> results = OfKind(Events(run.out), "result");
  ASSERT_EQ(results.size(), 1U);
  EXPECT_EQ(results.front().at("file"), given);
}

// A stopped process answers nothing until it is continued; continued on every way out.
class Paused {
 public:
  explicit Paused(pid_t pid) : pid_(pid) { ::kill(pid_, SIGSTOP); }
  ~Paused() { Continue(); }
  Paused(const Paused&) = delete;
  Paused& operator=(const Paused&) = delete;
  void Continue() const { ::kill(pid_, SIGCONT); }

 private:
  pid_t pid_;
};

// The file is replaced after the first check, while one port's run waits for its device
// check: each port's record and result carry what that port read and sent.
TEST(AuditLogTest, FileReplacedDuringTheRunsIsRecordedAsEachPortSentIt) {
  Workspace ws;
  const std::string stateA = (ws.Dir() / "a.state").string();
  const std::string stateB = (ws.Dir() / "b.state").string();
  SimProcess a(ws.Dir(), {"--state", stateA}, "a");
  SimProcess b(ws.Dir(), {"--state", stateB}, "b");
  ASSERT_TRUE(a.Ready() && b.Ready());
  const std::string fw = ws.Firmware();
  const std::string before = Slurp(fw);
  const std::string log = (ws.Dir() / "audit.jsonl").string();

  Paused pausedB(b.Pid());
  CliProcess cli(ws.Dir(), ws.Config(),
                 {"--json", "--log-file", log, "-p", a.Port(), "-p", b.Port(), "-y", "program", fw,
                  "-s", "3"});
  // a has read the file for its run; b has opened it and waits for its device check.
  const std::string aRead =
      R"("port":")" + a.Port() + R"(","text":"Чтение информации о секторе...")";
  const std::string bOpened = R"("port":")" + b.Port() + R"(","text":"Открыт файл: )";
  for (int i = 0; i < 500; ++i) {
    const std::string out = cli.OutputSoFar();
    if (out.find(aRead) != std::string::npos && out.find(bOpened) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::string replacement = (ws.Dir() / "replacement.fls").string();
  WriteFirmwareFile(replacement, SampleImage("SWAPPED", false));
  fs::rename(replacement, fw);
  const std::string after = Slurp(fw);
  ASSERT_NE(Sha256Of(before), Sha256Of(after));
  pausedB.Continue();
  const CliResult run = cli.Wait();
  ASSERT_EQ(run.code, 0) << run.out;

  const std::map<std::string, std::pair<std::string, std::string>> sent = {
      {a.Port(), {Sha256Of(before), "ROBUST"}}, {b.Port(), {Sha256Of(after), "SWAPPED"}}};
  std::vector<json> reports = Records(log);
  const std::vector<json> results = OfKind(Events(run.out), "result");
  reports.insert(reports.end(), results.begin(), results.end());
  ASSERT_EQ(reports.size(), 4U);
  for (const json& report : reports) {
    const auto& [sha256, name] = sent.at(report.at("port"));
    EXPECT_EQ(report.at("sha256"), sha256) << report.dump();
    EXPECT_EQ(report.at("name"), name) << report.dump();
  }

  // What each instrument holds is what its record says it was sent.
  a.Stop();
  b.Stop();
  for (const auto& [state, name] : {std::pair{stateA, "ROBUST"}, std::pair{stateB, "SWAPPED"}}) {
    sim::FlashState flash;
    std::string error;
    ASSERT_TRUE(flash.Load(state, &error)) << error;
    const FileBytes image = SampleImage(name, false);
    const auto sector = flash.Sector(2);
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), image.begin())) << name;
  }
}

}  // namespace
}  // namespace quorvex::test
