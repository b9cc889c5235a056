// quorvex-cli without -p takes the port from the stored settings. A settings file that holds
// garbage or cannot be read must give a clear message or the defaults, never a crash, and
// quorvex-cli must leave the file as it found it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "Processes.h"

namespace quorvex::test {
namespace {

const std::string kNoPort =
    "quorvex-cli: no port chosen: give -p PORT (see 'quorvex-cli ports'), or --simulate\n";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\Software\\Quorvex]";

std::string Garbage(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

struct StoreCase {
  const char* name;
  // Prepares the settings under the config folder; `port` is the simulated instrument's link.
  std::function<void(const fs::path& config, const std::string& port)> prepare;
  int code;
  std::string err;         // "" : stderr must be empty
  std::string out;         // stdout, exactly
  bool needsUnprivileged;  // file permissions do not stop root
};

void PrintTo(const StoreCase& c, std::ostream* os) { *os << c.name; }

fs::path SettingsFile(const fs::path& config) { return config / "quorvex" / "settings.ini"; }

void WriteSettings(const fs::path& config, const std::string& content) {
  fs::create_directories(SettingsFile(config).parent_path());
  std::ofstream(SettingsFile(config), std::ios::binary) << content;
}

class SettingsStoreTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(SettingsStoreTest, CheckWithTheStoredPort) {
  const StoreCase& c = GetParam();
  if (c.needsUnprivileged && ::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  Workspace ws;
  SimProcess sim(ws.Dir(), {});
  ASSERT_TRUE(sim.Ready());
  c.prepare(ws.Config(), sim.Port());
  const fs::path settings = SettingsFile(ws.Config());
  // An unreadable folder hides what it holds: no error, just nothing to compare.
  std::error_code hidden;
  const bool isFile = fs::is_regular_file(settings, hidden);
  const std::string before = isFile ? Slurp(settings) : std::string();

  const CliResult result = ws.Run({"-q", "check"});
  EXPECT_EQ(result.code, c.code) << result.err;
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.out, c.out);
  if (isFile) {
    EXPECT_EQ(Slurp(settings), before) << "the settings are left as they were";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsStoreTest,
    ::testing::ValuesIn(std::vector<StoreCase>{
        {"NoSettingsYet", [](const fs::path&, const std::string&) {}, 2, kNoPort, "", false},
        {"StoredPort",
         [](const fs::path& config, const std::string& port) {
           WriteSettings(config, kSection + "\nCOMName=" + port + "\nPathFileProg=\n");
         },
         0, "", "loader version 45 B3\n", false},
        {"Garbage",
         [](const fs::path& config, const std::string&) {
           WriteSettings(config, Garbage(64 * 1024, 1));
         },
         2, kNoPort, "", false},
        {"GarbageAroundTheKey",
         [](const fs::path& config, const std::string& port) {
           WriteSettings(config, Garbage(4096, 2) + "\n" + kSection + "\nCOMName=" + port + "\n" +
                                     Garbage(4096, 3));
         },
         0, "", "loader version 45 B3\n", false},
        {"OneHugeLine",
         [](const fs::path& config, const std::string&) {
           WriteSettings(config, kSection + std::string(4 << 20, 'x'));
         },
         2, kNoPort, "", false},
        {"KeyWithoutValues",
         [](const fs::path& config, const std::string&) { WriteSettings(config, kSection + "\n"); },
         2, kNoPort, "", false},
        {"StoredPortGone",
         [](const fs::path& config, const std::string&) {
           WriteSettings(config, kSection + "\nCOMName=/nonexistent/ttyQVX9\n");
         },
         1,
         "Quorvex: Ошибка открытия порта /nonexistent/ttyQVX9\nquorvex-cli: no such port; "
         "'quorvex-cli ports' lists the ports that can be opened\n",
         "", false},
        {"SettingsFileIsAFolder",
         [](const fs::path& config, const std::string&) {
           fs::create_directories(SettingsFile(config));
         },
         2, kNoPort, "", false},
        {"ConfigFolderIsAFile",
         [](const fs::path& config, const std::string&) {
           fs::remove_all(config);
           std::ofstream(config) << kSection << "\n";
         },
         2, kNoPort, "", false},
        {"UnreadableFolder",
         [](const fs::path& config, const std::string& port) {
           WriteSettings(config, kSection + "\nCOMName=" + port + "\n");
           fs::permissions(config, fs::perms::none);
         },
         2, kNoPort, "", true},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// quorvex-cli never writes the settings: a store that cannot be written (the configuration
// folder is a regular file, which stops root too) leaves a command with -p untouched.
TEST(SettingsStoreUnwritable, CommandWithAPortGoesOn) {
  Workspace ws;
  SimProcess sim(ws.Dir(), {});
  ASSERT_TRUE(sim.Ready());
  fs::remove_all(ws.Config());
  std::ofstream(ws.Config()) << kSection << "\n";

  const CliResult result = ws.Run({"-q", "-p", sim.Port(), "check"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "loader version 45 B3\n");
}

}  // namespace
}  // namespace quorvex::test
