// The programming run and the sector commands against the simulated instrument, through
// the real serial code over a pseudo-terminal.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "Device.h"
#include "FirmwareImage.h"
#include "Hex.h"
#include "PtyPair.h"
#include "RecordingOperator.h"
#include "SampleFirmware.h"
#include "ScriptedBackend.h"
#include "Sequences.h"
#include "SimulatedInstrument.h"
#include "TempFolder.h"

namespace quorvex::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kEightLines{
    "Чтение файла...",     "ОК", "Чтение информации о секторе...", "ОК", "Стирание...", "ОК",
    "Программирование...", "ОК"};

std::vector<std::string> FirstLines(std::size_t count) {
  return {kEightLines.begin(), kEightLines.begin() + static_cast<std::ptrdiff_t>(count)};
}

// A firmware file whose image is known: a pattern, and the information source "TEST FW".
struct Firmware {
  FileBytes image = SampleImage("TEST FW", true);
  std::string path;
  quorvex::test::TempFolder folder{"quorvex-seq"};
  Firmware() {
    path = (folder.Path() / "firmware.fls").string();
    WriteFirmwareFile(path, image);
  }
};

struct SimFixture {
  explicit SimFixture(std::vector<std::string> faults)
      : instrument(sim::Options{false, std::move(faults), {}, {}, {}}) {}
  sim::SimulatedInstrument instrument;
  RecordingOperator op;
  TComPort port{[this](std::string_view t) { op.PlainMessage(t); }};
  Device device{port, op};
  bool Connect() {
    std::string error;
    if (!instrument.Start(&error)) return false;
    device.SetPause([](std::chrono::milliseconds) {});  // the pauses are for a real loader
    return port.Open(instrument.PortPath());
  }
  std::vector<std::uint8_t> Codes() const {
    std::vector<std::uint8_t> codes;
    for (const auto& r : instrument.Requests()) codes.push_back(r.code);
    return codes;
  }
};

struct RunCase {
  const char* name;
  std::vector<std::string> faults;
  bool sectorWritten;  // the sector's block carries 55 AA before the run
  bool answerYes;
  std::string sector;
  bool fileChosen;
  int stopAfterBlock;  // 0: no Cancel
  RunResult result;
  std::size_t lines;    // how many of the eight lines the run writes
  std::string ownLine;  // the failed step's own line, empty when none
  std::string box;      // first line of the last box, empty when none
  std::string caption;
  std::string requests;  // request codes that reached the instrument
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class ProgrammingRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(ProgrammingRunTest, RunsOrStopsAtTheFailingStep) {
  const RunCase& c = GetParam();
  Firmware firmware;
  SimFixture f(c.faults);
  if (c.sectorWritten) {
    std::array<std::uint8_t, 64> marked{};
    marked[62] = 0x55;
    marked[63] = 0xAA;
    f.instrument.SetBlock(5, marked);
  }
  ASSERT_TRUE(f.Connect());
  f.op.sectorText = c.sector;
  f.op.answerYes = c.answerYes;
  if (c.fileChosen) {
    ASSERT_FALSE(f.device.OpenFirmware(firmware.path));
  }
  f.op.log.clear();
  if (c.stopAfterBlock > 0) {
    f.op.onProcessMessages = [&](int calls) {
      if (calls == c.stopAfterBlock) f.device.StopRequested = 1;
    };
  }

  EXPECT_EQ(RunProgramming(f.device, f.op), c.result);

  std::vector<std::string> expected = FirstLines(c.lines);
  if (!c.ownLine.empty()) expected.push_back(c.ownLine);
  EXPECT_EQ(f.op.log, expected);
  if (c.box.empty()) {
    EXPECT_TRUE(f.op.shown.empty());
  } else {
    ASSERT_FALSE(f.op.shown.empty());
    const Shown& last = f.op.shown.back();
    EXPECT_EQ(last.text.substr(0, last.text.find('\n')), c.box);
    EXPECT_EQ(last.caption, c.caption);
  }
  EXPECT_EQ(ToHex(f.Codes()), c.requests);
  EXPECT_EQ(f.op.beeps, c.result == RunResult::Done ? 1 : 0);
  if (c.result == RunResult::Done) {
    const std::vector<std::uint8_t> flash = f.instrument.Flash(5);
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), firmware.image.begin()));
    const auto block = f.instrument.Block(5);
    EXPECT_EQ(block[0], 0x20);
    EXPECT_EQ(block[1], 'T');
    EXPECT_EQ(block[63], 0xAA);
    ASSERT_FALSE(f.op.progress.empty()) << "a finished run moved the progress bar";
    EXPECT_EQ(f.op.progress.back(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, ProgrammingRunTest,
                         ::testing::ValuesIn(std::vector<RunCase>{
                             {"BlankSector",
                              {},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Done,
                              8,
                              "",
                              "",
                              "",
                              "02 33 30 31 32 35"},
                             {"WrittenSectorOverwritten",
                              {},
                              true,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Done,
                              8,
                              "",
                              "Сектор записан, переписать?",
                              "Программирование сектора",
                              "02 33 30 31 32 35"},
                             {"WrittenSectorKept",
                              {},
                              true,
                              false,
                              "5",
                              true,
                              0,
                              RunResult::Declined,
                              3,
                              "",
                              "Сектор записан, переписать?",
                              "Программирование сектора",
                              "02 33"},
                             {"WrongLoaderVersion",
                              {"version=45B4"},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Failed,
                              0,
                              "",
                              "Версия загрузчика не соответствует версии прибора",
                              "Ошибка",
                              "02"},
                             {"DeviceCheckBeforeSector",
                              {"wrong-code=check"},
                              false,
                              true,
                              "",
                              true,
                              0,
                              RunResult::Failed,
                              0,
                              "",
                              "Нет связи со сканером",
                              "Ошибка",
                              "02"},
                             {"EmptySector",
                              {},
                              false,
                              true,
                              "",
                              true,
                              0,
                              RunResult::BadSector,
                              0,
                              "",
                              "Введите номер сектора",
                              "Quorvex",
                              "02"},
                             {"SectorOutOfRange",
                              {},
                              false,
                              true,
                              "65",
                              true,
                              0,
                              RunResult::BadSector,
                              0,
                              "",
                              "Введен неправильный номер сектора",
                              "Ошибка",
                              "02"},
                             {"NoFileChosen",
                              {},
                              false,
                              true,
                              "5",
                              false,
                              0,
                              RunResult::Failed,
                              1,
                              "",
                              "Откройте файл",
                              "Ошибка",
                              "02"},
                             {"BlockNotRead",
                              {"short=read"},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Failed,
                              3,
                              "Ошибка приема сообщения",
                              "Ошибка приема сообщения",
                              "Чтение кадра",
                              "02 33"},
                             {"BlockNotWritten",
                              {"wrong-code=write"},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Failed,
                              4,
                              "Нет связи со сканером ",
                              "Нет связи со сканером",
                              "Запись кадра",
                              "02 33 30"},
                             {"EraseFails",
                              {"bad-check=erase"},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Failed,
                              5,
                              "Ошибка стирания",
                              "Ошибка приема сообщения",
                              "Стирание",
                              "02 33 30 31"},
                             {"InitFails",
                              {"wrong-code=init"},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Failed,
                              6,
                              "Нет связи со сканером",
                              "Нет связи со сканером",
                              "Инициализация",
                              "02 33 30 31 32"},
                             {"ChecksumMismatch",
                              {"checksum-mismatch"},
                              false,
                              true,
                              "5",
                              true,
                              0,
                              RunResult::Failed,
                              7,
                              "Ошибка контрольной суммы микропрограммы",
                              "Сбой программирования",
                              "Завершение программирования",
                              "02 33 30 31 32 35"},
                             {"Cancelled",
                              {},
                              false,
                              true,
                              "5",
                              true,
                              10,
                              RunResult::Stopped,
                              7,
                              "Стоп",
                              "",
                              "",
                              "02 33 30 31 32"},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProgrammingWireTest, RequestsAreByteExact) {
  Firmware firmware;
  SimFixture f({});
  ASSERT_TRUE(f.Connect());
  f.op.sectorText = "64";
  ASSERT_FALSE(f.device.OpenFirmware(firmware.path));
  ASSERT_EQ(RunProgramming(f.device, f.op), RunResult::Done);
  const auto requests = f.instrument.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(ToHex(requests[0].payload), "02");
  EXPECT_EQ(ToHex(requests[1].payload), "33 EF C0");
  EXPECT_EQ(ToHex(requests[2].payload), "30 EF C0");
  EXPECT_EQ(ToHex(requests[3].payload), "31 3F");
  EXPECT_EQ(ToHex(requests[4].payload), "32 3F");
  EXPECT_EQ(ToHex(requests[5].payload), "35 3F");
  const std::vector<std::uint8_t> wire = f.instrument.Received();
  EXPECT_EQ(wire.size(), 4u + 6u + (6u + 64u) + 5u + 5u + 65'536u + 5u)
      << "frames, the raw block, the raw image, nothing else";
  EXPECT_EQ(ToHex({wire.begin(), wire.begin() + 4}), "01 00 02 FC");
  EXPECT_EQ(ToHex({wire.begin() + 4, wire.begin() + 10}), "03 00 33 EF C0 1A");
}

struct SectorCommandsTest : ::testing::Test {
  SimFixture f{{}};
  void SetUp() override { ASSERT_TRUE(f.Connect()); }
};

TEST_F(SectorCommandsTest, ListingShowsNamedUnnamedAndClearedSectors) {
  std::array<std::uint8_t, 64> named{};
  const char name[] = "TEST";
  std::copy(name, name + 4, named.begin() + 1);
  named[63] = 0xAA;
  f.instrument.SetBlock(1, named);
  std::array<std::uint8_t, 64> unnamed{};
  unnamed[63] = 0xAA;
  unnamed[62] = 0x12;
  f.instrument.SetBlock(2, unnamed);
  f.instrument.SetBlock(5, named);

  f.op.sectorText = "5";
  ASSERT_EQ(ClearSector(f.device, f.op), RunResult::Done);
  EXPECT_EQ(f.op.log, (std::vector<std::string>{"Стирание сектора...", "ОК"}));
  const auto cleared = f.instrument.Block(5);
  EXPECT_TRUE(std::all_of(cleared.begin(), cleared.end(), [](auto b) { return b == 0; }));
  EXPECT_EQ(ToHex(f.Codes()), "02 30") << "no erase request: the flash is not touched";

  f.op.log.clear();
  ASSERT_EQ(ListSectors(f.device, f.op), RunResult::Done);
  ASSERT_EQ(f.op.log.size(), 64u);
  EXPECT_EQ(f.op.log[0], "Cектор 1 - TEST");
  EXPECT_EQ(f.op.log[1], "Cектор 2 - ");
  EXPECT_EQ(f.op.log[2], "Cектор 3 - не загружен");
  EXPECT_EQ(f.op.log[4], "Cектор 5 - не загружен");
  EXPECT_EQ(f.op.log[63], "Cектор 64 - не загружен");
  EXPECT_TRUE(f.op.shown.empty());
}

TEST_F(SectorCommandsTest, ClearChecksTheDeviceBeforeTheSector) {
  f.op.sectorText = "0";
  EXPECT_EQ(ClearSector(f.device, f.op), RunResult::BadSector);
  EXPECT_EQ(ToHex(f.Codes()), "02");
  EXPECT_TRUE(f.op.log.empty());
}

// A read failure in the middle of the listing, over a scripted line: the instrument answers
// the device check and sectors 1 to 9, then falls silent.
TEST(ListingFailureTest, ReadFailureAtSector10StopsTheListing) {
  auto line = std::make_shared<ScriptedLine>();
  RecordingOperator op;
  TComPort port(nullptr, std::make_unique<ScriptedBackend>(line));
  Device device(port, op);
  ASSERT_TRUE(port.Open("//./COM1"));
  line->Queue(Hex("03 00 FD 45 B3 07"));
  for (int n = 1; n <= 9; ++n) {
    std::vector<std::uint8_t> reply{65, 0, 0xCC};
    reply.resize(3 + 64, 0);
    reply.push_back(0xF2);  // 41 + CC = 0D, inverted
    line->Queue(reply);
  }
  EXPECT_EQ(ListSectors(device, op), RunResult::Failed);
  ASSERT_EQ(op.log.size(), 9u + 2u);
  EXPECT_EQ(op.log[8], "Cектор 9 - не загружен");
  EXPECT_EQ(op.log[9], "Ошибка приема сообщения");
  EXPECT_EQ(op.log[10], "Ошибка чтения кадра");
  ASSERT_EQ(op.shown.size(), 2u);
  EXPECT_EQ(op.shown[1].caption, "Чтение кадра");
  EXPECT_EQ(op.shown[1].text.substr(0, op.shown[1].text.find('\n')),
            "Ошибка получения информации о секторе");
  const auto frames = std::count(line->writeSizes.begin(), line->writeSizes.end(), 1u);
  EXPECT_EQ(frames, 4 + 10 * 6) << "sectors 11 to 64 are not read";
}

// A stop asked for (Ctrl-C, the window closed) is honoured before the next request: nothing
// more reaches the instrument, "Стоп" is the last log line, and a stop before the
// information block leaves the sector as it was.
enum class Command { Program, Clear, List, Check };

struct StopCase {
  const char* name;
  Command command;
  int stopAt;  // the StopAsked call from which on the stop is asked
  std::string requests;
  std::vector<std::string> log;  // before the "Стоп" line
  bool sectorUntouched;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopTest, NoRequestAfterTheStop) {
  const StopCase& c = GetParam();
  Firmware firmware;
  SimFixture f({});
  ASSERT_TRUE(f.Connect());
  f.op.sectorText = "5";
  ASSERT_FALSE(f.device.OpenFirmware(firmware.path));
  f.op.log.clear();
  f.op.stopAt = c.stopAt;
  RunResult result = RunResult::Done;
  switch (c.command) {
    case Command::Program:
      result = RunProgramming(f.device, f.op);
      break;
    case Command::Clear:
      result = ClearSector(f.device, f.op);
      break;
    case Command::List:
      result = ListSectors(f.device, f.op);
      break;
    case Command::Check:
      result = CheckLoader(f.device, f.op);
      break;
  }
  EXPECT_EQ(result, RunResult::Stopped);
  std::vector<std::string> expected = c.log;
  expected.emplace_back("Стоп");
  EXPECT_EQ(f.op.log, expected);
  EXPECT_EQ(ToHex(f.Codes()), c.requests);
  EXPECT_TRUE(f.op.shown.empty());
  EXPECT_EQ(f.op.beeps, 0);
  if (c.sectorUntouched) {
    const auto block = f.instrument.Block(5);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](auto b) { return b == 0; }));
    const std::vector<std::uint8_t> flash = f.instrument.Flash(5);
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](auto b) { return b == 0xFF; }));
  }
}

std::vector<std::string> ListedLines(int sectors) {
  std::vector<std::string> lines;
  for (int n = 1; n <= sectors; ++n)
    lines.push_back("Cектор " + std::to_string(n) + " - не загружен");
  return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StopTest,
    ::testing::ValuesIn(std::vector<StopCase>{
        {"ProgramBeforeTheDeviceCheck", Command::Program, 1, "", {}, true},
        {"ProgramBeforeTheSectorRead", Command::Program, 2, "02", FirstLines(2), true},
        {"ProgramBeforeTheBlockIsWritten", Command::Program, 3, "02 33", FirstLines(4), true},
        {"ProgramBeforeTheErase", Command::Program, 4, "02 33 30", FirstLines(4), false},
        {"ProgramBeforeTheInit", Command::Program, 5, "02 33 30 31", FirstLines(6), false},
        {"ProgramBeforeTheTransfer", Command::Program, 6, "02 33 30 31 32", FirstLines(6), false},
        {"ProgramBeforeTheFinish", Command::Program, 7, "02 33 30 31 32", FirstLines(7), false},
        {"ClearBeforeTheDeviceCheck", Command::Clear, 1, "", {}, true},
        {"ClearBeforeTheBlockIsWritten", Command::Clear, 2, "02", {}, false},
        {"ListBeforeTheDeviceCheck", Command::List, 1, "", {}, false},
        {"ListBeforeTheFirstSector", Command::List, 2, "02", {}, false},
        {"ListAfterTenSectors", Command::List, 12, "02 33 33 33 33 33 33 33 33 33 33",
         ListedLines(10), false},
        {"CheckBeforeTheDeviceCheck", Command::Check, 1, "", {}, false},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The answer to the last image block comes after its time-out, during the pause before the
// finish request: it must not be read as the finish reply's length byte, which would turn the
// instrument's verdict into a receive failure.
TEST(LateBlockAnswerTest, TheFinishVerdictIsTheInstruments) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  RecordingOperator op;
  op.sectorText = "1";
  TComPort port(nullptr);
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  ASSERT_TRUE(port.SetTimeouts(100));
  Device device(port, op);
  device.FileSize = kFileSize;
  // The pause before the finish, shortened; the late answer comes in the middle of it.
  device.SetPause([](std::chrono::milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  });
  std::string finish;
  std::thread instrument([&] {
    for (int block = 1; block <= 512; ++block) {
      if (pty.Drain(kImageBlock, 2000).size() != kImageBlock) return;
      if (block == 512) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      pty.Send({0x06});
    }
    finish = ToHex(pty.Drain(5, 2000));
    pty.Send(Hex("02 00 CA 00 33"));
  });
  const bool failed = device.Program();
  instrument.join();
  EXPECT_EQ(finish, "02 00 35 00 C8");
  EXPECT_FALSE(failed) << (op.shown.empty() ? "" : op.shown.front().text);
  EXPECT_TRUE(op.shown.empty());
}

}  // namespace
}  // namespace quorvex::test
