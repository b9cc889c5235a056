// quorvex-cli station: slots that program every unit put on them. Each slot is a quorvex-sim
// process playing units that come and go on a real pseudo-terminal, as a production line's
// adapters stay plugged in while instruments are put on and taken off.
#include <signal.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Columns.h"
#include "OnTerminal.h"
#include "Processes.h"
#include "SampleFirmware.h"
#include "Screen.h"
#include "StationOutput.h"

namespace quorvex::test {
namespace {

using nlohmann::json;

// A unit stays long enough for one unpaced sector, and its slot stays empty long enough for
// the station to see it gone (two probes in a row unanswered).
const std::vector<std::string> kUnitsComeAndGo{"--come-and-go", "3000,1500"};

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
  std::copy_if(events.begin(), events.end(), std::back_inserter(found),
               [&kind](const json& e) { return e.at("event") == kind; });
  return found;
}

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A folder with the firmware files and the job file that programs them.
class StationFolder {
 public:
  // A job of the sectors given (each its own file), the slots given, overwriting.
  std::string Job(const std::vector<int>& sectors, const std::vector<std::string>& slots = {}) {
    std::string text = "# written by the test\n";
    for (const int sector : sectors) {
      const std::string file = "sector" + std::to_string(sector) + ".fls";
      WriteFirmwareFile((ws_.Dir() / file).string(),
                        SampleImage("FW" + std::to_string(sector), false));
      text += "[[sector]]\nnumber = " + std::to_string(sector) + "\nfile = \"" + file + "\"\n\n";
    }
    text += "[station]\nslots = [";
    for (std::size_t i = 0; i < slots.size(); ++i) text += (i ? ", \"" : "\"") + slots[i] + "\"";
    text += "]\noverwrite = true\n";
    return WriteFile("job.toml", text);
  }

  std::string WriteFile(const std::string& name, const std::string& text) const {
    const fs::path path = ws_.Dir() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  [[nodiscard]] std::string Path(const std::string& name) const {
    return (ws_.Dir() / name).string();
  }
  std::unique_ptr<SimProcess> Sim(const std::string& name, std::vector<std::string> options) {
    return std::make_unique<SimProcess>(ws_.Dir(), options, name);
  }
  [[nodiscard]] const Workspace& Ws() const { return ws_; }

 private:
  Workspace ws_;
};

// The states a slot went through, a state repeated in a row (one event per sector) once.
std::vector<std::string> StatesOf(const std::vector<json>& slotEvents, int slot) {
  std::vector<std::string> states;
  for (const json& e : slotEvents) {
    if (e.at("slot") != slot) continue;
    const std::string state = e.at("state");
    if (states.empty() || states.back() != state) states.push_back(state);
  }
  return states;
}

// Two slots, four units: every unit is programmed once, numbered once, recorded once in the
// audit file and once as an event, and every slot goes round its states in order.
TEST(StationTest, TwoSlotsProgramFourUnitsEachRecordedOnce) {
  StationFolder folder;
  const std::string job = folder.Job({5, 9});
  const auto a = folder.Sim("a", {"--come-and-go", "5000,1500"});
  const auto b = folder.Sim("b", {"--come-and-go", "5000,1500"});
  ASSERT_TRUE(a->Ready() && b->Ready());
  const std::string audit = folder.Path("audit.jsonl");
  const CliResult run = folder.Ws().Run({"-p", a->Port(), "-p", b->Port(), "--json", "--log-file",
                                         audit, "station", job, "--units", "4"});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);

  const std::vector<json> units = OfKind(events, "unit");
  for (const std::string& line : Lines(run.out)) {
    if (Holds(line, "\"event\":\"unit\"")) {
      EXPECT_TRUE(line.starts_with("{\"event\":\"unit\",\"time\":")) << line;
    }
  }
  const std::vector<json> records = Events(Slurp(audit));
  ASSERT_EQ(units.size(), 4u) << run.out;
  ASSERT_EQ(records.size(), 4u);
  std::set<int> numbers;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const json& unit = units[i];
    json record = unit;
    record.erase("event");
    EXPECT_EQ(record, records[i]) << "the event is the audit line";
    numbers.insert(unit.at("unit").get<int>());
    EXPECT_EQ(unit.at("exit"), 0) << unit.dump();
    EXPECT_EQ(unit.at("command"), "station");
    EXPECT_EQ(unit.at("job"), job);
    const int slot = unit.at("slot");
    EXPECT_EQ(unit.at("port"), (slot == 1 ? a : b)->Port());
    ASSERT_EQ(unit.at("sectors").size(), 2u);
    EXPECT_EQ(unit.at("sectors")[0].at("sector"), 5);
    EXPECT_EQ(unit.at("sectors")[1].at("sector"), 9);
    EXPECT_EQ(unit.at("sectors")[1].at("name"), "FW9");
  }
  EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4}));

  const std::vector<json> slotEvents = OfKind(events, "slot");
  const std::vector<std::string> round{"waiting", "programming", "passed", "removed"};
  for (const int slot : {1, 2}) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    const std::vector<std::string> states = StatesOf(slotEvents, slot);
    ASSERT_GE(states.size(), 5u);
    for (std::size_t i = 0; i < states.size(); ++i) EXPECT_EQ(states[i], round[i % round.size()]);
  }
  for (const json& e : slotEvents) {
    EXPECT_EQ(e.at("port"), (e.at("slot") == 1 ? a : b)->Port());
    if (e.at("state") == "programming") {
      EXPECT_TRUE(e.at("sector") == 5 || e.at("sector") == 9) << e.dump();
      EXPECT_TRUE(numbers.contains(e.at("unit").get<int>())) << e.dump();
    }
    if (e.at("state") == "passed") {
      EXPECT_EQ(e.at("exit"), 0);
    }
  }
  for (const json& e : OfKind(events, "progress")) {
    EXPECT_EQ(e.at("port"), (e.at("slot") == 1 ? a : b)->Port());
  }
  // Every transfer starts at 0 and ends with its whole image; how many come between depends
  // on the machine's speed (at most 10 a second per slot).
  std::size_t starts = 0;
  std::size_t ends = 0;
  for (const json& e : OfKind(events, "progress")) {
    if (e.at("bytes") == 0) ++starts;
    if (e.at("bytes") == e.at("total")) ++ends;
  }
  EXPECT_EQ(starts, 8u) << "two sectors of each of four units";
  EXPECT_EQ(ends, 8u) << "two sectors of each of four units";

  ASSERT_FALSE(events.empty());
  const json& result = events.back();
  EXPECT_EQ(result.at("event"), "result");
  EXPECT_EQ(result.at("command"), "station");
  EXPECT_EQ(result.at("exit"), 0);
  EXPECT_EQ(result.at("passed"), 4);
  EXPECT_EQ(result.at("failed"), 0);
}

// Whatever is wrong before the station starts ends it with exit 2 and a line saying what,
// before any port is opened: the instrument is never asked anything.
struct RefusalCase {
  const char* name;
  std::vector<std::string> args;  // "JOB": a good job; "PORT": the instrument's link
  std::string says;               // on stderr
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class StationRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(StationRefusalTest, ExitTwoAndNothingSent) {
  const RefusalCase& c = GetParam();
  StationFolder folder;
  const std::string job = folder.Job({5});
  folder.WriteFile("bad-sector.toml",
                   "[[sector]]\nnumber = 5\nfile = \"missing.fls\"\n\n[station]\nslots = []\n"
                   "overwrite = true\n");
  const auto sim = folder.Sim("port", {});
  ASSERT_TRUE(sim->Ready());
  for (const bool asJson : {false, true}) {
    SCOPED_TRACE(asJson ? "--json" : "text");
    std::vector<std::string> args;
    if (asJson) args.push_back("--json");
    for (const std::string& arg : c.args) {
      if (arg == "JOB") {
        args.push_back(job);
      } else if (arg == "PORT") {
        args.push_back(sim->Port());
      } else if (arg == "TERMINAL") {
        args.push_back(sim->TerminalPath());
      } else if (arg.ends_with(".toml") || arg == "folder") {
        args.push_back(folder.Path(arg == "folder" ? "" : arg));
      } else {
        args.push_back(arg);
      }
    }
    const CliResult run = folder.Ws().Run(args);
    EXPECT_EQ(run.code, 2) << run.out << run.err;
    EXPECT_TRUE(run.err.starts_with("quorvex-cli: ")) << run.err;
    EXPECT_TRUE(Holds(run.err, c.says)) << run.err;
    if (asJson) {
      const std::vector<json> events = Events(run.out);
      ASSERT_EQ(events.size(), 1u) << run.out;
      EXPECT_EQ(events[0].at("event"), "result");
      EXPECT_EQ(events[0].at("command"), "station");
      EXPECT_EQ(events[0].at("exit"), 2);
    } else {
      EXPECT_EQ(run.out, "");
    }
  }
  sim->Stop();
  EXPECT_EQ(sim->Requests(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    BeforeAnyPort, StationRefusalTest,
    ::testing::ValuesIn(std::vector<RefusalCase>{
        {"NoJobFile", {"-p", "PORT", "station", "absent.toml"}, "absent.toml"},
        {"SectorFileMissing", {"-p", "PORT", "station", "bad-sector.toml"}, "missing.fls"},
        {"NoSlots", {"station", "JOB"}, "no slots"},
        {"SlotNamedTwice", {"-p", "PORT", "-p", "PORT", "station", "JOB"}, "named twice"},
        {"SlotNamedTwiceInTwoForms",
         {"-p", "PORT", "-p", "TERMINAL", "station", "JOB"},
         "named twice"},
        {"NoUnits", {"-p", "PORT", "station", "JOB", "--units", "0"}, "--units"},
        {"AuditFileCannotBeOpened",
         {"-p", "PORT", "--log-file", "folder", "station", "JOB"},
         "cannot open the log file"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// Every way of being told to end stops the unit being programmed at its next step: "Стоп",
// exit 3 in its record, and the port free for the next program at once.
class StationStopTest : public ::testing::TestWithParam<int> {};

TEST_P(StationStopTest, UnitCutShortIsRecordedAndThePortFreed) {
  StationFolder folder;
  const std::string job = folder.Job({5});
  const auto sim = folder.Sim("port", {"--pace"});  // one unit, always there; a transfer of 10 s
  ASSERT_TRUE(sim->Ready());
  const std::string audit = folder.Path("audit.jsonl");
  CliProcess cli(folder.Ws().Dir(), folder.Ws().Config(),
                 {"-q", "-p", sim->Port(), "--log-file", audit, "station", job});
  bool seen = false;
  for (int i = 0; i < 1500 && !seen; ++i) {
    seen = Holds(cli.OutputSoFar(), "Программирование...\n");
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(seen) << cli.OutputSoFar();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  cli.Signal(GetParam());
  const CliResult run = cli.Wait();
  EXPECT_EQ(run.code, 3) << run.err;
  EXPECT_LT(run.seconds, 15) << "the transfer did not stop";
  const std::vector<std::string> out = Lines(run.out);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 2], "1 port: Стоп");
  EXPECT_TRUE(out.back().starts_with("1 port: unit 1 БРАК: Стоп, ")) << out.back();
  EXPECT_TRUE(Holds(run.err, "годных 0  брак 1  всего 1  exit 3")) << run.err;

  const std::vector<json> records = Events(Slurp(audit));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].at("exit"), 3);
  EXPECT_EQ(records[0].at("unit"), 1);
  EXPECT_EQ(records[0].at("log").back(), "Стоп");
  ASSERT_EQ(records[0].at("sectors").size(), 1u);
  EXPECT_EQ(records[0].at("sectors")[0].at("exit"), 3);

  const CliResult next = folder.Ws().Run({"-p", sim->Port(), "check"});
  EXPECT_EQ(next.code, 0) << next.out << next.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, StationStopTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) {
                           return std::string(info.param == SIGTERM  ? "Term"
                                              : info.param == SIGINT ? "Interrupt"
                                                                     : "HangUp");
                         });

// A slot whose adapter is not plugged in waits for it without a word, and never holds the
// slot beside it.
TEST(StationTest, MissingPortWaitsSilentlyBesideAWorkingSlot) {
  StationFolder folder;
  const std::string job = folder.Job({5});
  const auto sim = folder.Sim("work", kUnitsComeAndGo);
  ASSERT_TRUE(sim->Ready());
  const std::string missing = folder.Path("unplugged");
  const CliResult run =
      folder.Ws().Run({"-p", missing, "-p", sim->Port(), "station", job, "--units", "2"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_FALSE(Holds(run.out + run.err, "1 unplugged")) << run.out << run.err;
  std::vector<std::string> verdicts;
  for (const std::string& line : Lines(run.out)) {
    if (line.starts_with("2 work: unit ")) verdicts.push_back(line.substr(0, line.find(',')));
  }
  EXPECT_EQ(verdicts, (std::vector<std::string>{"2 work: unit 1 ГОТОВО", "2 work: unit 2 ГОТОВО"}))
      << run.out;
  const std::vector<std::string> err = Lines(run.err);
  ASSERT_EQ(err.size(), 1u) << run.err;
  EXPECT_TRUE(err[0].starts_with("job.toml  годных 2  брак 0  всего 2  exit 0, ")) << err[0];
}

// The station on a narrow terminal as libvterm draws it: the header and a row per slot at the
// bottom, in order, none reaching the last column, each showing its state; a failed unit's
// cause is cut before the instruction to take it off. At the end the rows give way to the
// summary.
TEST(StationOnTerminalTest, HeaderAndRowsFitAndShowTheStates) {
  constexpr int kColumns = 60;
  constexpr int kLines = 24;
  StationFolder folder;
  const std::string job = folder.Job({5});
  fs::create_directories(folder.Path("serial/by-id"));
  const std::string longName = "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z9Q-if00-port0";
  const auto good = folder.Sim("a", kUnitsComeAndGo);
  const auto bad =
      folder.Sim(longName, {"--come-and-go", "3000,1500", "--fault", "checksum-mismatch"});
  ASSERT_TRUE(good->Ready() && bad->Ready());
  Screen screen(kLines, kColumns);
  std::set<std::string> seen;  // "slot: state" as the rows showed them
  const TerminalRun run = RunOnTerminal(
      {QUORVEX_CLI, "-p", good->Port(), "-p", bad->Port(), "station", job, "--units", "3"},
      {"XDG_CONFIG_HOME=" + folder.Ws().Config().string(), "TERM=xterm"}, kColumns, kLines,
      [&](std::string_view bytes) {
        screen.Feed(bytes);
        const std::vector<Screen::Line> window = screen.Window();
        std::size_t header = window.size();
        for (std::size_t i = 0; i < window.size(); ++i) {
          const std::string& text = window[i].text;
          if (text.starts_with("job.toml  годных ") && !Holds(text, " exit ")) header = i;
        }
        if (header == window.size()) return;
        // Log lines go to stdout and the rows to stderr, and the terminal hands a redraw over
        // in pieces: look at the rows only once both are drawn again after the header.
        for (int slot : {1, 2}) {
          const std::size_t row = header + static_cast<std::size_t>(slot);
          if (row >= window.size() || !window[row].text.starts_with(std::to_string(slot) + " ")) {
            return;
          }
        }
        EXPECT_FALSE(window[header].full) << window[header].text;
        for (int slot : {1, 2}) {
          const Screen::Line& row = window[header + static_cast<std::size_t>(slot)];
          EXPECT_FALSE(row.full) << row.text;
          ASSERT_TRUE(row.text.starts_with(std::to_string(slot) + " ")) << [&] {
            std::string all;
            for (const Screen::Line& line : window) all += line.text + "|\n";
            return all;
          }();
          for (const char* state :
               {"ждёт прибор", "сектор 5 (1 из 1)", "ГОТОВО — снимите прибор", "БРАК: "}) {
            if (Holds(row.text, state)) seen.insert(std::to_string(slot) + ": " + state);
          }
          if (Holds(row.text, "БРАК: ")) {
            EXPECT_TRUE(row.text.ends_with("… — снимите прибор")) << row.text;
          }
        }
        for (std::size_t i = header + 3; i < window.size(); ++i) {
          EXPECT_EQ(window[i].text, "") << "a line under the rows";
        }
      });
  EXPECT_EQ(run.code, 1) << run.bytes;
  for (const char* state : {"1: ждёт прибор", "1: сектор 5 (1 из 1)", "1: ГОТОВО — снимите прибор",
                            "2: ждёт прибор", "2: сектор 5 (1 из 1)", "2: БРАК: "}) {
    EXPECT_TRUE(seen.contains(state)) << state;
  }
  const std::vector<std::string> transcript = screen.Transcript();
  for (const std::string& line : transcript) {
    EXPECT_FALSE(line.starts_with("job.toml  годных 0")) << "a header left behind";
    EXPECT_FALSE(Holds(line, "ждёт прибор")) << "a row left behind: " << line;
  }
  ASSERT_FALSE(transcript.empty());
  EXPECT_TRUE(transcript.back().starts_with("job.toml  годных ")) << transcript.back();
  EXPECT_TRUE(Holds(transcript.back(), "  всего 3  exit 1, ")) << transcript.back();
}

// A row never reaches the last column, whatever the width; the state's words stay longest.
TEST(StationRowTextTest, FitsEveryWidthKeepingTheState) {
  using station::SlotState;
  station::SlotStatus programming{2, "ttyUSB1", SlotState::Programming, 4, 7, 2, 3, 0, {}};
  station::SlotStatus failed{
      4, "ttyUSB3", SlotState::Failed, 9, 7, 2, 3, 1, "Ошибка: Несовпадение контрольной суммы"};
  station::SlotStatus passed{3, "ttyUSB2", SlotState::Passed, 8, 0, 0, 3, 0, {}};
  struct Case {
    const char* name;
    const station::SlotStatus* status;
    bool transferring;
    std::size_t columns;
    std::string keeps;
  };
  const std::vector<Case> cases{
      {"wide transfer", &programming, true, 100, "сектор 7 (2 из 3): [###"},
      {"narrow transfer", &programming, true, 40, "45%"},
      {"before the transfer", &programming, false, 60, "сектор 7 (2 из 3)"},
      {"whole cause", &failed, false, 100,
       "БРАК: Ошибка: Несовпадение контрольной суммы — снимите прибор"},
      {"cut cause", &failed, false, 50, "… — снимите прибор"},
      {"passed", &passed, false, 40, "ГОТОВО — снимите прибор"},
      {"no room", &failed, false, 12, "4 ttyUSB3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string label = std::to_string(c.status->slot) + " " + c.status->port;
    const std::string row =
        cli::StationRowText(label, *c.status, 45, 29'440, 65'536, 3.0, c.transferring, c.columns);
    EXPECT_LT(cli::DisplayColumns(row), c.columns) << row;
    EXPECT_TRUE(row.starts_with(label.substr(0, std::min(label.size(), c.columns - 1)))) << row;
    EXPECT_TRUE(Holds(row, c.keeps)) << row;
  }
}

}  // namespace
}  // namespace quorvex::test
