// quorvex-cli as a script sees it: the built executable, its output streams and exit codes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FirmwareImage.h"

namespace quorvex::test {
namespace {

namespace fs = std::filesystem;

struct Output {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A folder of its own for each test: files, settings, captured output.
struct Workspace {
  fs::path dir;
  Workspace() {
    dir = fs::temp_directory_path() /
          ("quorvex-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++count_));
    fs::remove_all(dir);
    fs::create_directories(dir / "config");
  }
  ~Workspace() {
    std::error_code error;
    fs::remove_all(dir, error);
  }

  // Runs quorvex-cli with the arguments; stdin is /dev/null (no terminal to ask).
  Output Run(const std::vector<std::string>& args) const {
    const fs::path out = dir / "stdout";
    const fs::path err = dir / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
      const int in = ::open("/dev/null", O_RDONLY);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      std::vector<char*> argv{const_cast<char*>(QUORVEX_CLI)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QUORVEX_CLI, argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Output result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
  }

  // A firmware file named "TEST FW", marked written.
  std::string Firmware(std::size_t size = kFileSize) const {
    FileBytes image{};
    for (std::size_t i = 0; i < kInfoSourceOffset; ++i) image[i] = static_cast<std::uint8_t>(i);
    const std::string name = "TEST FW";
    std::copy(name.begin(), name.end(), image.begin() + kInfoSourceOffset);
    image[kInfoSourceOffset + 62] = 0x55;
    image[kInfoSourceOffset + 63] = 0xAA;
    FileBytes file{};
    EncodeImage(image, file);
    const fs::path path = dir / ("fw" + std::to_string(size) + ".fls");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(std::min(size, file.size())));
    return path.string();
  }

 private:
  static inline int count_ = 0;
};

const std::string kProgramLog =
    "Чтение файла...\nОК\nЧтение информации о секторе...\nОК\nСтирание...\nОК\n"
    "Программирование...\nОК\n";

struct CliCase {
  const char* name;
  std::vector<std::string> args;  // "FW" stands for a good firmware file, "SHORT" for a short one
  int code;
  std::string out;  // stdout must contain this ("" : stdout must be empty)
  std::string err;  // stderr must contain this ("" : anything)
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

class CliCommandTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(CliCommandTest, ExitCodeAndOutput) {
  const CliCase& c = GetParam();
  Workspace ws;
  std::vector<std::string> args;
  for (const std::string& a : c.args) {
    if (a == "FW") {
      args.push_back(ws.Firmware());
    } else if (a == "SHORT") {
      args.push_back(ws.Firmware(kFileSize - 1));
    } else if (a == "DIR") {
      args.push_back(ws.dir.string());
    } else {
      args.push_back(a);
    }
  }
  const Output result = ws.Run(args);
  EXPECT_EQ(result.code, c.code) << result.err;
  if (c.out.empty()) {
    EXPECT_EQ(result.out, "");
  } else {
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
  }
  EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
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
         "Quorvex: Ошибка открытия порта ttyQVXnone\n"},
        {"NoPortChosen", {"check"}, 2, "", "no port chosen"},
        {"UnknownCommand", {"frobnicate"}, 2, "", ""},
        {"Inspect", {"inspect", "FW"}, 0, "name: TEST FW\nmarker: 55 AA (written)", ""},
        {"InspectShort", {"inspect", "SHORT"}, 2, "", "Неправильная длина файла"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliFileTest, EncodeAndDecodeAreInverse) {
  Workspace ws;
  const std::string fw = ws.Firmware();
  const std::string image = (ws.dir / "image.bin").string();
  const std::string again = (ws.dir / "again.fls").string();
  ASSERT_EQ(ws.Run({"decode", fw, "-o", image}).code, 0);
  EXPECT_EQ(fs::file_size(image), kFileSize);
  ASSERT_EQ(ws.Run({"encode", image, "-o", again}).code, 0);
  EXPECT_EQ(Slurp(again), Slurp(fw));
  const std::string shortImage = (ws.dir / "short.bin").string();
  std::ofstream(shortImage) << "too short";
  EXPECT_EQ(ws.Run({"encode", shortImage, "-o", again}).code, 2);
  EXPECT_EQ(Slurp(again), Slurp(fw)) << "a refused encode leaves the old file alone";
}

// A simulated instrument in its own process, so the sector keeps its block between runs.
struct SimProcess {
  pid_t pid = -1;
  std::string link;
  explicit SimProcess(const fs::path& dir) {
    link = (dir / "port").string();
    pid = ::fork();
    if (pid == 0) {
      const int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::execl(QUORVEX_SIM, QUORVEX_SIM, "--link", link.c_str(), nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 100 && !fs::exists(link); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~SimProcess() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

TEST(CliOverwriteTest, WrittenSectorIsKeptWithoutATerminalAndOverwrittenWithYes) {
  Workspace ws;
  SimProcess sim(ws.dir);
  ASSERT_TRUE(fs::exists(sim.link));
  const std::string fw = ws.Firmware();
  ASSERT_EQ(ws.Run({"-p", sim.link, "-q", "program", fw, "-s", "3"}).code, 0);

  const Output declined = ws.Run({"-p", sim.link, "-q", "program", fw, "-s", "3"});
  EXPECT_EQ(declined.code, 4);
  EXPECT_NE(declined.err.find("Программирование сектора: Сектор записан, переписать?"),
            std::string::npos);
  EXPECT_EQ(declined.out, "Открыт файл: " + fw +
                              "\nЧтение файла...\nОК\n"
                              "Чтение информации о секторе...\n");

  const Output yes = ws.Run({"-p", sim.link, "-y", "-q", "program", fw, "-s", "3"});
  EXPECT_EQ(yes.code, 0);
  EXPECT_EQ(yes.out, "Открыт файл: " + fw + "\n" + kProgramLog);

  const Output list = ws.Run({"-p", sim.link, "list"});
  EXPECT_NE(list.out.find("Cектор 3 - TEST FW\n"), std::string::npos);
}

TEST(CliOverwriteTest, StoredPortIsUsedWithoutP) {
  Workspace ws;
  SimProcess sim(ws.dir);
  fs::create_directories(ws.dir / "config" / "quorvex");
  std::ofstream(ws.dir / "config" / "quorvex" / "settings.ini")
      << "[HKEY_LOCAL_MACHINE\\Software\\Quorvex]\nCOMName=" << sim.link << "\nPathFileProg=\n";
  EXPECT_EQ(ws.Run({"check"}).code, 0);
}

}  // namespace
}  // namespace quorvex::test
