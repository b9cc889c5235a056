// Every fault of the simulated instrument crossed with the commands it affects, through the
// built quorvex-cli against a quorvex-sim process of its own: the boxes, the log, the exit
// code, the requests that reached the instrument, and the time the time-outs allow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Processes.h"
#include "Texts.h"

namespace quorvex::test {
namespace {

namespace t = quorvex::text;

enum class Command { kCheck, kList, kClear, kProgram };

struct Box {
  std::string caption;
  std::string text;
};

struct Cell {
  std::string name;
  std::vector<std::string> faults;  // --fault values for quorvex-sim
  Command command;
  int code;                           // exit code of quorvex-cli
  std::vector<Box> boxes;             // stderr, in order
  std::vector<std::string> log;       // stdout (after "Открыт файл: ..." for program)
  std::vector<std::string> requests;  // what the instrument recognised, payloads in hex
  int timeouts = 0;                   // reads that wait out the whole 5,001 ms
  double delaySeconds = 0;            // what a delay fault adds over the whole command
};

void PrintTo(const Cell& cell, std::ostream* os) { *os << cell.name; }

constexpr double kReadTimeout = 5.001;
// Process start-up, file reading and a loaded machine: far below one read time-out.
constexpr double kSlack = 4.0;
// A command that waits on reads must not spin while it waits.
constexpr double kCpuLimit = 1.0;

// Sector 5 for program, 7 for clear.
const std::string kCheck = "02";
const std::string kRead5 = "33 E1 00";
const std::string kWrite5 = "30 E1 00";
const std::string kErase5 = "31 04";
const std::string kInit5 = "32 04";
const std::string kFinish5 = "35 04";
const std::string kWrite7 = "30 E1 80";

// The pauses a command makes whatever the instrument answers: 64 x 10 ms before the bytes of
// an information-block write, and 1,000 ms after the image before the finish request.
double MandatedPauses(const Cell& cell) {
  double pauses = 0;
  for (const std::string& request : cell.requests) {
    if (request == kWrite5 || request == kWrite7) pauses += 0.64;
  }
  for (const std::string& line : cell.log) {
    if (line == "Программирование...") pauses += 1.0;
  }
  return pauses;
}

// The device check, then the block reads of the listing for sectors 1 to n.
std::vector<std::string> ListRequests(int n) {
  std::vector<std::string> requests{kCheck};
  for (int sector = 1; sector <= n; ++sector) {
    const unsigned address = (static_cast<unsigned>(sector) + 895u) * 64u;
    char hex[16];
    std::snprintf(hex, sizeof hex, "33 %02X %02X", address >> 8, address & 0xFF);
    requests.emplace_back(hex);
  }
  return requests;
}

std::vector<std::string> NotLoadedListing() {
  std::vector<std::string> lines;
  for (int n = 1; n <= 64; ++n) lines.push_back("Cектор " + std::to_string(n) + " - не загружен");
  return lines;
}

const std::vector<std::string> kProgramLog{
    "Чтение файла...",     "ОК", "Чтение информации о секторе...", "ОК", "Стирание...", "ОК",
    "Программирование...", "ОК"};

// The first `count` lines of a successful run, then the failed step's own line.
std::vector<std::string> ProgramLog(std::size_t count, const std::string& failure) {
  std::vector<std::string> lines(kProgramLog.begin(),
                                 kProgramLog.begin() + static_cast<std::ptrdiff_t>(count));
  lines.push_back(failure);
  return lines;
}

// The first `count` requests of a whole run.
std::vector<std::string> ProgramRequests(std::size_t count) {
  const std::vector<std::string> all{kCheck, kRead5, kWrite5, kErase5, kInit5, kFinish5};
  return {all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)};
}

const std::vector<std::string> kClearLog{"Стирание сектора...", "ОК"};

std::vector<Cell> Cells() {
  std::vector<Cell> cells;
  const Command kCommands[] = {Command::kCheck, Command::kList, Command::kClear, Command::kProgram};
  const char* kCommandNames[] = {"Check", "List", "Clear", "Program"};

  cells.push_back({"HealthyCheck", {}, Command::kCheck, 0, {}, {"loader version 45 B3"}, {kCheck}});
  cells.push_back({"HealthyList", {}, Command::kList, 0, {}, NotLoadedListing(), ListRequests(64)});
  cells.push_back({"HealthyClear", {}, Command::kClear, 0, {}, kClearLog, {kCheck, kWrite7}});
  cells.push_back(
      {"HealthyProgram", {}, Command::kProgram, 0, {}, kProgramLog, ProgramRequests(6)});

  // Faults that end every command at its device check, before anything else is sent.
  struct AtCheck {
    const char* name;
    const char* fault;
    Box box;
    int timeouts;
  };
  const AtCheck atCheck[] = {
      {"Silent", "silent", {t::kCaptionError, t::kReceiveFailure}, 1},
      {"Version45B4", "version=45B4", {t::kCaptionError, t::kWrongVersion}, 0},
      {"VersionSwapped", "version=B345", {t::kCaptionError, t::kWrongVersion}, 0},
      {"WrongCodeCheck", "wrong-code=check", {t::kCaptionError, t::kWrongReply}, 0},
      {"BadCheckCheck", "bad-check=check", {t::kCaptionError, t::kReceiveFailure}, 0},
      {"ShortCheck", "short=check", {t::kCaptionError, t::kReceiveFailure}, 0},
      {"StrayByte", "stray-byte", {t::kCaptionError, t::kReceiveFailure}, 0},
      {"LateBeyondTimeOut", "delay-ms=5200", {t::kCaptionError, t::kReceiveFailure}, 1},
  };
  for (const AtCheck& fault : atCheck) {
    for (std::size_t i = 0; i < 4; ++i) {
      cells.push_back({std::string(fault.name) + kCommandNames[i],
                       {fault.fault},
                       kCommands[i],
                       1,
                       {fault.box},
                       {},
                       {kCheck},
                       fault.timeouts});
    }
  }

  // A request's reply with another request's code, a failing check byte, or the reply code
  // alone. The reply code alone is a whole reply for the requests that use nothing else.
  struct Reply {
    const char* request;
    const char* caption;
    const char* wrongLine;
    const char* receiveLine;
    bool codeAloneSuffices;
  };
  const Reply replies[] = {
      {"read", t::kCaptionRead, "Нет связи со сканером", "Ошибка приема сообщения", false},
      {"write", t::kCaptionWrite, "Нет связи со сканером ", "Ошибка чтения кадра", true},
      {"erase", t::kCaptionErase, "Ошибка стирания", "Ошибка стирания", true},
      {"init", t::kCaptionInit, "Нет связи со сканером", "Ошибка инициализации", true},
      {"finish", t::kCaptionFinish, "Нет связи со сканером", "Ошибка завершения программирования",
       false},
  };
  const char* kinds[] = {"wrong-code", "bad-check", "short"};
  const char* kindNames[] = {"WrongCode", "BadCheck", "Short"};
  for (std::size_t r = 0; r < std::size(replies); ++r) {
    const Reply& reply = replies[r];
    for (std::size_t k = 0; k < 3; ++k) {
      std::string request = reply.request;
      request[0] = static_cast<char>(std::toupper(request[0]));
      const std::string name = kindNames[k] + request;
      const std::vector<std::string> faults{std::string(kinds[k]) + "=" + reply.request};
      const bool wrong = k == 0;
      const bool succeeds = k == 2 && reply.codeAloneSuffices;
      const Box box{reply.caption, wrong ? t::kWrongReply : t::kReceiveFailure};
      const std::string line = wrong ? reply.wrongLine : reply.receiveLine;
      // In a programming run the block read comes after the device check and three log lines;
      // each later request one request and one log line further on.
      const std::size_t linesBefore = r + 3;
      const std::size_t requestsSent = r + 2;
      if (succeeds) {
        cells.push_back(
            {name + "Program", faults, Command::kProgram, 0, {}, kProgramLog, ProgramRequests(6)});
      } else {
        cells.push_back({name + "Program",
                         faults,
                         Command::kProgram,
                         1,
                         {box},
                         ProgramLog(linesBefore, line),
                         ProgramRequests(requestsSent)});
      }
      if (r == 0) {
        cells.push_back({name + "List",
                         faults,
                         Command::kList,
                         1,
                         {box, {t::kCaptionRead, t::kSectorInfoFailure}},
                         {line, "Ошибка чтения кадра"},
                         ListRequests(1)});
      }
      if (r == 1) {
        cells.push_back(
            succeeds
                ? Cell{name + "Clear", faults, Command::kClear, 0, {}, kClearLog, {kCheck, kWrite7}}
                : Cell{name + "Clear",
                       faults,
                       Command::kClear,
                       1,
                       {box},
                       {"Стирание сектора...", line},
                       {kCheck, kWrite7}});
      }
    }
  }

  // The image stream and the verdict.
  const Box checksum{t::kCaptionFinish, t::kChecksumFailure};
  const Box finishReceive{t::kCaptionFinish, t::kReceiveFailure};
  const std::string checksumLine = "Ошибка контрольной суммы микропрограммы";
  const std::string finishLine = "Ошибка завершения программирования";
  // Block 512 goes unanswered; the loader wakes after the host's 6 s of silence (the read
  // time-out and the pause) and finds a block missing.
  cells.push_back({"MuteAfter511Program",
                   {"mute-after=511"},
                   Command::kProgram,
                   1,
                   {checksum},
                   ProgramLog(7, checksumLine),
                   ProgramRequests(6),
                   1});
  // Every block answered, then nothing: the finish request goes unanswered.
  cells.push_back({"MuteAfter512Program",
                   {"mute-after=512"},
                   Command::kProgram,
                   1,
                   {finishReceive},
                   ProgramLog(7, finishLine),
                   ProgramRequests(5),
                   1});
  // The adapter is pulled out: right after the initialisation, and halfway through the image.
  cells.push_back({"HangupAfter0Program",
                   {"hangup-after=0"},
                   Command::kProgram,
                   1,
                   {finishReceive},
                   ProgramLog(7, finishLine),
                   ProgramRequests(5)});
  cells.push_back({"HangupAfter256Program",
                   {"hangup-after=256"},
                   Command::kProgram,
                   1,
                   {finishReceive},
                   ProgramLog(7, finishLine),
                   ProgramRequests(5)});
  cells.push_back({"ChecksumMismatchProgram",
                   {"checksum-mismatch"},
                   Command::kProgram,
                   1,
                   {checksum},
                   ProgramLog(7, checksumLine),
                   ProgramRequests(6)});

  // Late answers within the time-out change nothing but the time.
  cells.push_back({"LateCheck",
                   {"delay-ms=40"},
                   Command::kCheck,
                   0,
                   {},
                   {"loader version 45 B3"},
                   {kCheck},
                   0,
                   0.04});
  cells.push_back({"LateList",
                   {"delay-ms=40"},
                   Command::kList,
                   0,
                   {},
                   NotLoadedListing(),
                   ListRequests(64),
                   0,
                   65 * 0.04});
  cells.push_back({"LateClear",
                   {"delay-ms=40"},
                   Command::kClear,
                   0,
                   {},
                   kClearLog,
                   {kCheck, kWrite7},
                   0,
                   2 * 0.04});
  cells.push_back({"LateProgram",
                   {"delay-ms=4"},
                   Command::kProgram,
                   0,
                   {},
                   kProgramLog,
                   ProgramRequests(6),
                   0,
                   (5 + 512 + 1) * 0.004});
  return cells;
}

class FaultMatrixTest : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultMatrixTest, Cell) {
  const Cell& cell = GetParam();
  Workspace ws;
  std::vector<std::string> simArgs;
  for (const std::string& fault : cell.faults) {
    simArgs.push_back("--fault");
    simArgs.push_back(fault);
  }
  SimProcess sim(ws.Dir(), simArgs);
  ASSERT_TRUE(sim.Ready());

  const std::string firmware = ws.Firmware();
  std::vector<std::string> args{"-q", "-p", sim.Port()};
  switch (cell.command) {
    case Command::kCheck:
      args.emplace_back("check");
      break;
    case Command::kList:
      args.emplace_back("list");
      break;
    case Command::kClear:
      args.insert(args.end(), {"clear", "7"});
      break;
    case Command::kProgram:
      args.insert(args.end(), {"program", firmware, "-s", "5"});
      break;
  }
  const CliResult result = ws.Run(args);
  EXPECT_EQ(sim.Stop(), 0) << "the simulator ends cleanly, also after a hang-up";

  EXPECT_EQ(result.code, cell.code) << result.err;
  std::string boxes;
  for (const Box& box : cell.boxes) boxes += box.caption + ": " + box.text + "\n";
  EXPECT_EQ(result.err, boxes);

  std::vector<std::string> log = Lines(result.out);
  if (cell.command == Command::kProgram) {
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Открыт файл: " + firmware);
    log.erase(log.begin());
  }
  EXPECT_EQ(log, cell.log);
  if (cell.code != 0) {
    EXPECT_TRUE(log.empty() || log.back() != "ОК") << "no ОК after a failure";
  }
  EXPECT_EQ(sim.Requests(), cell.requests);

  const double waits = cell.timeouts * kReadTimeout + MandatedPauses(cell) + cell.delaySeconds;
  EXPECT_LT(result.seconds, waits + kSlack);
  EXPECT_GE(result.seconds, cell.timeouts * (kReadTimeout - 0.01));
  EXPECT_LT(result.cpuSeconds, kCpuLimit);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(Cells()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvex::test
