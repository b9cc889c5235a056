// One quorvex-cli working on several instruments at once: each quorvex-sim is a process of its
// own on a real pseudo-terminal, as each adapter of a production bench is a line of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FirmwareImage.h"
#include "FlashState.h"
#include "Processes.h"
#include "SampleFirmware.h"
#include "SectorInf.h"

namespace quorvex::test {
namespace {

const std::string kProgramLog =
    "Чтение файла...\nОК\nЧтение информации о секторе...\nОК\nСтирание...\nОК\n"
    "Программирование...\nОК\n";

// The lines of `text` that start with "NAME: ", without it.
std::string LinesOf(const std::string& text, const std::string& name) {
  std::string lines;
  for (const std::string& line : Lines(text)) {
    if (line.starts_with(name + ": ")) lines += line.substr(name.size() + 2) + "\n";
  }
  return lines;
}

// Three instruments in one folder, named a, b and c, each keeping its flash in a file.
class ThreeInstruments : public ::testing::Test {
 protected:
  // `all` for every instrument, `cOnly` for the last one besides.
  void Start(const std::vector<std::string>& all, const std::vector<std::string>& cOnly = {}) {
    for (const char* name : {"a", "b", "c"}) {
      std::vector<std::string> options = Join({"--state", State(name)}, all);
      if (std::string(name) == "c") options.insert(options.end(), cOnly.begin(), cOnly.end());
      sims_.push_back(std::make_unique<SimProcess>(ws_.Dir(), options, name));
      ASSERT_TRUE(sims_.back()->Ready());
    }
  }
  [[nodiscard]] std::string State(const std::string& name) const {
    return (ws_.Dir() / (name + ".state")).string();
  }
  [[nodiscard]] std::vector<std::string> PortArgs() const {
    std::vector<std::string> args;
    for (const auto& sim : sims_) args.insert(args.end(), {"-p", sim->Port()});
    return args;
  }
  static std::vector<std::string> Join(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  // The flash and block of sector `n` as instrument `name` kept them, after it ended.
  sim::FlashState Flash(const std::string& name) const {
    sim::FlashState state;
    std::string error;
    EXPECT_TRUE(state.Load(State(name), &error)) << error;
    return state;
  }

  Workspace ws_;
  std::vector<std::unique_ptr<SimProcess>> sims_;
};

TEST_F(ThreeInstruments, ProgramsAllAtOnceEachHoldingTheImageAndItsBlock) {
  Start({});
  const std::string fw = ws_.Firmware();
  const CliResult result = ws_.Run(Join(PortArgs(), {"-q", "program", fw, "-s", "7"}));
  EXPECT_EQ(result.code, 0) << result.err;
  const FileBytes image = SampleImage("ROBUST", false);
  const SectorInf block = DeriveSectorInf(image);
  for (std::size_t i = 0; i < sims_.size(); ++i) {
    const std::string name = sims_[i]->Port();
    EXPECT_EQ(LinesOf(result.out, name), "Открыт файл: " + fw + "\n" + kProgramLog);
    EXPECT_NE(result.err.find(name + ": ok, "), std::string::npos) << result.err;
    sims_[i]->Stop();
    const sim::FlashState flash = Flash(std::string(1, static_cast<char>('a' + i)));
    const auto sector = flash.Sector(6);
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), image.begin())) << name;
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.InfoBlock(6).begin())) << name;
  }
  // Every line is a port's; the summary follows the order of -p.
  for (const std::string& line : Lines(result.out)) {
    EXPECT_TRUE(line.starts_with(ws_.Dir().string())) << line;
  }
  EXPECT_LT(result.err.find(sims_[0]->Port() + ": ok"), result.err.find(sims_[2]->Port() + ": ok"));
}

TEST_F(ThreeInstruments, ASilentOneFailsAloneAndTheExitCodeIsItsFailure) {
  Start({}, {"--fault", "silent"});
  const std::string fw = ws_.Firmware();
  const CliResult result = ws_.Run(Join(PortArgs(), {"-q", "program", fw, "-s", "2"}));
  EXPECT_EQ(result.code, 1);
  const std::string silent = sims_[2]->Port();
  EXPECT_EQ(LinesOf(result.out, sims_[0]->Port()), "Открыт файл: " + fw + "\n" + kProgramLog);
  EXPECT_EQ(LinesOf(result.out, sims_[1]->Port()), "Открыт файл: " + fw + "\n" + kProgramLog);
  EXPECT_EQ(LinesOf(result.out, silent), "Открыт файл: " + fw + "\n");
  EXPECT_NE(result.err.find(silent + ": Ошибка: Ошибка приема сообщения\n" + silent +
                            ": Возможные причины:\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(silent + ": exit 1, Ошибка: Ошибка приема сообщения, "),
            std::string::npos)
      << result.err;
}

TEST_F(ThreeInstruments, CtrlCStopsEveryTransfer) {
  Start({"--pace"});
  const std::string fw = ws_.Firmware();
  CliProcess cli(ws_.Dir(), ws_.Config(), Join(PortArgs(), {"-q", "program", fw, "-s", "4"}));
  // Ctrl-C once every transfer has begun.
  for (int i = 0; i < 1000; ++i) {
    const std::string out = cli.OutputSoFar();
    if (std::count_if(sims_.begin(), sims_.end(), [&out](const auto& sim) {
          return out.find(sim->Port() + ": Программирование...") != std::string::npos;
        }) == 3) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  cli.Signal(SIGINT);
  const CliResult result = cli.Wait();
  EXPECT_EQ(result.code, 3);
  for (const auto& sim : sims_) {
    const std::string lines = LinesOf(result.out, sim->Port());
    EXPECT_TRUE(lines.ends_with("Программирование...\nСтоп\n")) << lines;
    EXPECT_NE(result.err.find(sim->Port() + ": exit 3, Стоп, "), std::string::npos) << result.err;
  }
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;  // "A", "B": the two instruments' ports; "FW", "SHORT" files
  std::string err;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusedBeforeAnyPortTest : public ::testing::TestWithParam<RefusalCase> {};

// Nothing reaches an instrument: neither records a single request.
TEST_P(RefusedBeforeAnyPortTest, ExitsTwoAndSendsNothing) {
  Workspace ws;
  SimProcess a(ws.Dir(), {}, "a");
  SimProcess b(ws.Dir(), {}, "b");
  ASSERT_TRUE(a.Ready() && b.Ready());
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) {
    if (arg == "A")
      args.push_back(a.Port());
    else if (arg == "B")
      args.push_back(b.Port());
    else if (arg == "SHORT") {
      const std::string path = (ws.Dir() / "short.fls").string();
      WriteFirmwareFile(path, SampleImage("X", false), kFileSize - 1);
      args.push_back(path);
    } else if (arg == "LOG")
      args.push_back((ws.Dir() / "no-folder" / "audit.log").string());
    else
      args.push_back(arg);
  }
  const CliResult result = ws.Run(args);
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find(GetParam().err), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  a.Stop();
  b.Stop();
  EXPECT_TRUE(a.Requests().empty());
  EXPECT_TRUE(b.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    SeveralPorts, RefusedBeforeAnyPortTest,
    ::testing::ValuesIn(std::vector<RefusalCase>{
        {"SamePortTwice", {"-p", "A", "-p", "B", "-p", "A", "check"}, "is named twice"},
        {"ShortFile",
         {"-p", "A", "-p", "B", "-y", "program", "SHORT", "-s", "3"},
         "Ошибка: Неправильная длина файла\n"},
        {"AuditFileCannotBeOpened",
         {"--log-file", "LOG", "-p", "A", "-p", "B", "list"},
         "cannot open the log file"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SeveralPortsQuestion, WithoutYesEveryWrittenSectorIsKept) {
  Workspace ws;
  SimProcess a(ws.Dir(), {}, "a");
  SimProcess b(ws.Dir(), {}, "b");
  const std::string fw = (ws.Dir() / "written.fls").string();
  WriteFirmwareFile(fw, SampleImage("W", true));
  ASSERT_EQ(ws.Run({"-p", a.Port(), "-q", "program", fw, "-s", "9"}).code, 0);
  // a's sector 9 is written now, b's is not: a declines, b programs.
  const CliResult result = ws.Run({"-p", a.Port(), "-p", b.Port(), "-q", "program", fw, "-s", "9"});
  EXPECT_EQ(result.code, 4);
  EXPECT_NE(result.err.find(a.Port() + ": Программирование сектора: Сектор записан, переписать? "
                                       "[y/N] n (several ports are not asked; -y answers yes)"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(b.Port() + ": ok"), std::string::npos);
  EXPECT_EQ(ws.Run({"-p", a.Port(), "-p", b.Port(), "-y", "-q", "program", fw, "-s", "9"}).code, 0);
}

// A failure outranks a decline: one silent instrument and one whose written sector is kept
// end the command with 1, each port's summary with its own code.
TEST(SeveralPortsExitCode, SilentAndDeclinedGiveOne) {
  Workspace ws;
  SimProcess silent(ws.Dir(), {"--fault", "silent"}, "silent");
  SimProcess written(ws.Dir(), {}, "written");
  ASSERT_TRUE(silent.Ready() && written.Ready());
  const std::string fw = (ws.Dir() / "written.fls").string();
  WriteFirmwareFile(fw, SampleImage("W", true));
  ASSERT_EQ(ws.Run({"-p", written.Port(), "-q", "program", fw, "-s", "6"}).code, 0);

  const CliResult result =
      ws.Run({"-p", silent.Port(), "-p", written.Port(), "-q", "program", fw, "-s", "6"});
  EXPECT_EQ(result.code, 1) << result.err;
  EXPECT_NE(result.err.find(silent.Port() + ": exit 1, "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(written.Port() + ": exit 4, "), std::string::npos) << result.err;
}

}  // namespace
}  // namespace quorvex::test
