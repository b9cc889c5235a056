// quorvex-cli as a script sees it: the built executable, its output streams and exit codes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FirmwareImage.h"
#include "OnTerminal.h"
#include "Processes.h"
#include "PtyPair.h"
#include "QuorvexVersion.h"
#include "SampleFirmware.h"
#include "TComPort.h"

namespace quorvex::test {
namespace {

// A firmware file named "TEST FW" and marked written, cut to `size` bytes.
std::string MarkedFirmware(const Workspace& ws, std::size_t size = kFileSize) {
  const fs::path path = ws.Dir() / ("fw" + std::to_string(size) + ".fls");
  WriteFirmwareFile(path.string(), SampleImage("TEST FW", true), size);
  return path.string();
}

const std::string kProgramLog =
    "Чтение файла...\nОК\nЧтение информации о секторе...\nОК\nСтирание...\nОК\n"
    "Программирование...\nОК\n";

struct CliCase {
  const char* name;
  std::vector<std::string> args;  // "FW" stands for a good firmware file, "SHORT" for a short one
  int code;
  std::string out;  // stdout must contain this ("" : stdout must be empty)
  std::string err;  // stderr must contain this ("" : stderr must be empty)
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

class CliCommandTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(CliCommandTest, ExitCodeAndOutput) {
  const CliCase& c = GetParam();
  Workspace ws;
  std::vector<std::string> args;
  for (const std::string& a : c.args) {
    if (a == "FW") {
      args.push_back(MarkedFirmware(ws));
    } else if (a == "SHORT") {
      args.push_back(MarkedFirmware(ws, kFileSize - 1));
    } else if (a == "DIR") {
      args.push_back(ws.Dir().string());
    } else {
      args.push_back(a);
    }
  }
  const CliResult result = ws.Run(args);
  EXPECT_EQ(result.code, c.code) << result.err;
  if (c.out.empty()) {
    EXPECT_EQ(result.out, "");
  } else {
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
  }
  if (c.err.empty()) {
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliCommandTest,
    ::testing::ValuesIn(std::vector<CliCase>{
        {"Check", {"--simulate", "check"}, 0, "loader version 45 B3", ""},
        {"Program", {"--simulate", "-q", "program", "FW", "-s", "5"}, 0, kProgramLog, ""},
        {"List", {"--simulate", "list"}, 0, "Cектор 1 - не загружен\n", ""},
        {"Clear", {"--simulate", "clear", "64"}, 0, "Стирание сектора...\nОК\n", ""},
        {"ClearSector0",
         {"--simulate", "clear", "0"},
         2,
         "",
         "Ошибка: Введен неправильный номер сектора\n"},
        {"ClearSector65",
         {"--simulate", "clear", "65"},
         2,
         "",
         "Ошибка: Введен неправильный номер сектора\n"},
        {"ClearMinusOne",
         {"--simulate", "clear", "--", "-1"},
         2,
         "",
         "Ошибка: Введен неправильный номер сектора\n"},
        {"ClearLetters",
         {"--simulate", "clear", "ab"},
         2,
         "",
         "Quorvex: 'ab' is not a valid integer value.\n"},
        {"ClearLeadingZeros", {"--simulate", "clear", "007"}, 0, "Стирание сектора...\nОК\n", ""},
        {"ProgramSector65",
         {"--simulate", "program", "FW", "-s", "65"},
         2,
         "Открыт файл: ",
         "Ошибка: Введен неправильный номер сектора\n"},
        {"ProgramMissingFile",
         {"--simulate", "program", "/nonexistent/fw.fls", "-s", "5"},
         2,
         "",
         "Ошибка: Не могу открыть файл\n"},
        {"ProgramShortFile",
         {"--simulate", "program", "SHORT", "-s", "5"},
         2,
         "",
         "Ошибка: Неправильная длина файла\n"},
        {"ProgramFolder",
         {"--simulate", "program", "DIR", "-s", "5"},
         2,
         "",
         "Ошибка: Не могу открыть файл\n"},
        {"ProgramWithoutSector", {"--simulate", "program", "FW"}, 2, "", "--sector is required"},
        {"UnknownPort",
         {"-p", "/dev/ttyQVXnone", "check"},
         1,
         "",
         "Quorvex: Ошибка открытия порта ttyQVXnone\nquorvex-cli: no such port"},
        {"FileAsPort", {"-p", "FW", "check"}, 1, "", "\nquorvex-cli: not a serial port"},
        {"NoPortChosen", {"check"}, 2, "", "no port chosen"},
        {"Version", {"--version"}, 0, std::string("quorvex-cli ") + kVersion + "\n", ""},
        {"UnknownCommand", {"frobnicate"}, 2, "", "A subcommand is required"},
        {"Inspect", {"inspect", "FW"}, 0, "name: TEST FW\nmarker: 55 AA (written)", ""},
        {"InspectShort", {"inspect", "SHORT"}, 2, "", "Неправильная длина файла"},
        // An endless source is refused once it is longer than an image, not read until memory
        // runs out.
        {"EncodeEndlessSource",
         {"encode", "/dev/zero", "-o", "/dev/null"},
         2,
         "",
         "/dev/zero holds more than 65600 bytes"},
        // A script's unset variable: the audit must not be silently off.
        {"EmptyAuditFileName",
         {"--simulate", "--log-file", "", "check"},
         2,
         "",
         "the audit file's name is empty"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliFileTest, EncodeAndDecodeAreInverse) {
  Workspace ws;
  const std::string fw = MarkedFirmware(ws);
  const std::string image = (ws.Dir() / "image.bin").string();
  const std::string again = (ws.Dir() / "again.fls").string();
  ASSERT_EQ(ws.Run({"decode", fw, "-o", image}).code, 0);
  EXPECT_EQ(fs::file_size(image), kFileSize);
  ASSERT_EQ(ws.Run({"encode", image, "-o", again}).code, 0);
  EXPECT_EQ(Slurp(again), Slurp(fw));
  const std::string shortImage = (ws.Dir() / "short.bin").string();
  std::ofstream(shortImage) << "too short";
  EXPECT_EQ(ws.Run({"encode", shortImage, "-o", again}).code, 2);
  EXPECT_EQ(Slurp(again), Slurp(fw)) << "a refused encode leaves the old file alone";
}

TEST(CliOverwriteTest, WrittenSectorIsKeptWithoutATerminalAndOverwrittenWithYes) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {});
  ASSERT_TRUE(sim.Ready());
  const std::string fw = MarkedFirmware(ws);
  ASSERT_EQ(ws.Run({"-p", sim.Port(), "-q", "program", fw, "-s", "3"}).code, 0);

  const CliResult declined = ws.Run({"-p", sim.Port(), "-q", "program", fw, "-s", "3"});
  EXPECT_EQ(declined.code, 4);
  EXPECT_NE(declined.err.find("Программирование сектора: Сектор записан, переписать?"),
            std::string::npos);
  EXPECT_EQ(declined.out, "Открыт файл: " + fw +
                              "\nЧтение файла...\nОК\n"
                              "Чтение информации о секторе...\n");

  const CliResult yes = ws.Run({"-p", sim.Port(), "-y", "-q", "program", fw, "-s", "3"});
  EXPECT_EQ(yes.code, 0);
  EXPECT_EQ(yes.out, "Открыт файл: " + fw + "\n" + kProgramLog);

  const CliResult list = ws.Run({"-p", sim.Port(), "list"});
  EXPECT_NE(list.out.find("Cектор 3 - TEST FW\n"), std::string::npos);
}

// On a terminal with stderr sent to a file, the question could not be seen: nobody is asked,
// and the answer is No at once instead of a wait for an answer that never comes.
TEST(CliOverwriteTest, QuestionNobodyCanSeeIsNotAsked) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {});
  ASSERT_TRUE(sim.Ready());
  const std::string fw = MarkedFirmware(ws);
  ASSERT_EQ(ws.Run({"-p", sim.Port(), "-q", "-y", "program", fw, "-s", "3"}).code, 0);
  const fs::path err = ws.Dir() / "err.log";
  // stdin and stdout the terminal, stderr a file.
  const std::string command = std::string("exec '") + QUORVEX_CLI + "' -p '" + sim.Port() +
                              "' -q program '" + fw + "' -s 3 <&1 2>'" + err.string() + "'";
  const TerminalRun run = RunOnTerminal(
      {"/bin/sh", "-c", command}, {"XDG_CONFIG_HOME=" + ws.Config().string()}, 80, 24,
      [](std::string_view) {}, std::chrono::seconds(20));
  EXPECT_EQ(run.code, 4) << run.bytes;
  EXPECT_NE(Slurp(err).find("[y/N] n (no terminal to ask"), std::string::npos) << Slurp(err);
}

TEST(CliOverwriteTest, StoredPortIsUsedWithoutP) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {});
  fs::create_directories(ws.Config() / "quorvex");
  std::ofstream(ws.Config() / "quorvex" / "settings.ini")
      << "[HKEY_LOCAL_MACHINE\\Software\\Quorvex]\nCOMName=" << sim.Port() << "\nPathFileProg=\n";
  EXPECT_EQ(ws.Run({"check"}).code, 0);
}

// The line after the window's message says why the port did not open, with what to do.
TEST(CliPortCauseTest, PortHeldByAnotherProgram) {
  Workspace ws;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  TComPort holder(nullptr);
  ASSERT_TRUE(holder.Open(pty.SlavePath()));
  const CliResult result = ws.Run({"-p", pty.SlavePath(), "check"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("\nquorvex-cli: the port is held by another program"),
            std::string::npos)
      << result.err;
}

// A user outside the serial devices' group sees an empty list, and is told why.
TEST(CliPortCauseTest, PortsThatThisUserMayNotOpenAreNamedWithTheFix) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens any device; run as an ordinary user";
  std::string forbidden;
  for (const auto& entry : fs::directory_iterator("/dev")) {
    const std::string name = entry.path().filename().string();
    if ((name.starts_with("ttyS") || name.starts_with("ttyUSB") || name.starts_with("ttyACM")) &&
        ::access(entry.path().c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
      forbidden = name;
    }
  }
  if (forbidden.empty()) GTEST_SKIP() << "every serial device here is open to this user";
  Workspace ws;
  const CliResult result = ws.Run({"ports"});
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out.find(forbidden + "\n"), std::string::npos) << result.out;
  EXPECT_NE(result.err.find("but this user may not open"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("'sudo usermod -aG dialout $USER'"), std::string::npos) << result.err;
}

TEST(CliPortCauseTest, PermissionDeniedNamesTheDialoutGroup) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens any device; run as an ordinary user";
  Workspace ws;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
  const CliResult result = ws.Run({"-p", pty.SlavePath(), "check"});
  EXPECT_EQ(result.code, 1);
  const std::vector<std::string> lines = Lines(result.err);
  ASSERT_EQ(lines.size(), 2u) << result.err;
  EXPECT_EQ(lines[0], "Quorvex: Ошибка открытия порта " + PortNameOf(pty.SlavePath()));
  EXPECT_NE(lines[1].find("quorvex-cli: permission denied"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("dialout group with 'sudo usermod -aG dialout $USER', then log out"),
            std::string::npos)
      << lines[1];
}

}  // namespace
}  // namespace quorvex::test
