// The on-result hook as the line's own programs meet it: what reaches them, how their end is
// reported, and that a slow or deaf hook never holds the station past its limit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Hook.h"
#include "TempFolder.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace quorvex::test {
namespace {

using station::HookOutcome;
using station::RunHook;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::vector<std::string> kEnvironment{"QUORVEX_SLOT=2", "QUORVEX_PORT=ttyUSB1",
                                            "QUORVEX_UNIT=A10K3Z9Q", "QUORVEX_EXIT=0"};

TEST(HookText, FirstStderrLineIsOneLineCutAtACharacter) {
  const std::string longLine(300, 'x');
  const std::string cutInsideLetter = std::string(199, 'x') + "ж" + "tail";  // ж: 2 bytes
  struct Row {
    const char* name;
    std::string text;
    std::string line;
  };
  for (const Row& row : std::vector<Row>{
           {"first of several", "no printer\nsecond\n", "no printer"},
           {"CR LF", "no printer\r\nsecond", "no printer"},
           {"no line end", "no printer", "no printer"},
           {"empty", "", ""},
           {"long", longLine, std::string(200, 'x')},
           {"a letter across the cut", cutInsideLetter, std::string(199, 'x')},
       }) {
    EXPECT_EQ(station::FirstStderrLine(row.text), row.line) << row.name;
  }
}

#ifndef _WIN32

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Shell(const std::string& script, const std::string& arg = "") {
  std::vector<std::string> argv{"/bin/sh", "-c", script, "hook"};
  if (!arg.empty()) argv.push_back(arg);
  return argv;
}

// Running, as opposed to gone or a zombie waiting for whoever adopted it.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return ::kill(pid, 0) == 0;
  const auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool GoneWithin(pid_t pid, milliseconds wait) {
  const auto until = Clock::now() + wait;
  while (Alive(pid)) {
    if (Clock::now() > until) return false;
    ::usleep(10'000);
  }
  return true;
}

TEST(Hook, GetsTheRecordWholeAndTheUnitsVariables) {
  TempFolder dir;
  // A variable of this process with one of the names: the unit's value is the one seen.
  ::setenv("QUORVEX_SLOT", "stale", 1);
  const std::string record =
      R"({"event":"unit","slot":2,"port":"ttyUSB1","unit":"A10K3Z9Q","exit":0,"note":"Тест"})"
      "\n";
  const HookOutcome outcome =
      RunHook(Shell(R"(cat >"$1/record"; printf '%s|%s|%s|%s' "$QUORVEX_SLOT" "$QUORVEX_PORT" )"
                    R"("$QUORVEX_UNIT" "$QUORVEX_EXIT" >"$1/env")",
                    dir.Path().string()),
              record, kEnvironment);
  ::unsetenv("QUORVEX_SLOT");
  EXPECT_TRUE(outcome.started) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(station::HookComplaint(outcome), "");
  EXPECT_EQ(Slurp(dir.Path() / "record"), record);
  EXPECT_EQ(Slurp(dir.Path() / "env"), "2|ttyUSB1|A10K3Z9Q|0");
}

struct EndCase {
  const char* name;
  std::vector<std::string> argv;
  std::size_t inputBytes;
  milliseconds limit;
  bool timedOut;
  int exitCode;
  std::string stderrLine;
  std::string complaint;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class HookEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(HookEnd, IsReportedAndNeverHoldsPastTheLimit) {
  const EndCase& c = GetParam();
  const auto started = Clock::now();
  const HookOutcome outcome =
      RunHook(c.argv, std::string(c.inputBytes, 'r') + "\n", kEnvironment, c.limit);
  const auto took = Clock::now() - started;
  EXPECT_TRUE(outcome.started) << outcome.error;
  EXPECT_EQ(outcome.timedOut, c.timedOut);
  EXPECT_EQ(outcome.exitCode, c.exitCode);
  EXPECT_EQ(outcome.stderrLine, c.stderrLine);
  EXPECT_EQ(station::HookComplaint(outcome), c.complaint);
  EXPECT_LT(took, c.limit + std::chrono::seconds(1));
}

constexpr std::size_t kMiB = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Ends, HookEnd,
    ::testing::ValuesIn(std::vector<EndCase>{
        {"Clean", Shell("cat >/dev/null"), 100, milliseconds(5000), false, 0, "", ""},
        {"CleanWithChatterOnStderr", Shell("echo 'label printed' >&2"), 100, milliseconds(5000),
         false, 0, "label printed", ""},
        {"ExitCodeAndFirstStderrLine", Shell("echo 'no label printer' >&2; echo more >&2; exit 3"),
         100, milliseconds(5000), false, 3, "no label printer",
         "on-result: exit 3: no label printer"},
        {"FoundOnPath",
         {"sh", "-c", "exit 4"},
         100,
         milliseconds(5000),
         false,
         4,
         "",
         "on-result: exit 4"},
        {"EndedBySignal", Shell("kill -TERM $$"), 100, milliseconds(5000), false, 128 + SIGTERM, "",
         "on-result: exit 143"},
        // Gone before the input is written, or without ever reading it: no harm to us.
        {"ExitsAtOnceWithoutReadingAMebibyte", Shell("exit 0"), kMiB, milliseconds(5000), false, 0,
         "", ""},
        {"ReadsALittleThenLeaves", Shell("head -c 10 >/dev/null; exit 0"), kMiB, milliseconds(5000),
         false, 0, "", ""},
        {"Slow", Shell("echo 'waiting for MES' >&2; sleep 60"), 100, milliseconds(300), true,
         128 + SIGKILL, "waiting for MES", "on-result: ended after 300 ms: waiting for MES"},
        {"NeverReadsAMebibyte", Shell("exec sleep 60"), kMiB, milliseconds(300), true,
         128 + SIGKILL, "", "on-result: ended after 300 ms"},
        // stdin, stdout and stderr held open by a child it started in the background.
        {"LeavesAChildHoldingItsPipes", Shell("sleep 60 & exit 0"), kMiB, milliseconds(5000), false,
         0, "", ""},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The limit ends what the hook started too, not only the hook; and a hook that ends takes
// what it left running with it.
TEST(Hook, ItsChildrenEndWithIt) {
  struct Row {
    const char* name;
    const char* script;
    bool timedOut;
  };
  for (const Row& row : {Row{"at the limit", "sleep 60 & echo $! >\"$1/pid\"; wait", true},
                         Row{"left behind", "sleep 60 & echo $! >\"$1/pid\"", false}}) {
    TempFolder dir;
    const HookOutcome outcome =
        RunHook(Shell(row.script, dir.Path().string()), "{}\n", kEnvironment, milliseconds(300));
    EXPECT_EQ(outcome.timedOut, row.timedOut) << row.name;
    const pid_t grandchild = std::atoi(Slurp(dir.Path() / "pid").c_str());
    ASSERT_GT(grandchild, 0) << row.name;
    EXPECT_TRUE(GoneWithin(grandchild, std::chrono::seconds(2))) << row.name;
    if (Alive(grandchild)) ::kill(grandchild, SIGKILL);
  }
}

TEST(Hook, AProgramThatCannotStartIsSaidSo) {
  struct Row {
    const char* name;
    std::vector<std::string> argv;
    std::string errorNames;
  };
  for (const Row& row : std::vector<Row>{
           {"not on PATH", {"quorvex-no-such-hook", "--slot"}, "quorvex-no-such-hook"},
           {"no such path", {"/nonexistent/quorvex/hook"}, "/nonexistent/quorvex/hook"},
           {"no command", {}, "no command"},
       }) {
    const HookOutcome outcome = RunHook(row.argv, "{}\n", kEnvironment, milliseconds(2000));
    EXPECT_FALSE(outcome.started) << row.name;
    EXPECT_NE(outcome.error.find(row.errorNames), std::string::npos) << outcome.error;
    EXPECT_TRUE(station::HookComplaint(outcome).starts_with("on-result: cannot start: "))
        << station::HookComplaint(outcome);
  }
}

#else

// Found on PATH by its bare name, its exit code reported; a missing program is said so.
TEST(Hook, RunsThroughTheWindowsCalls) {
  const HookOutcome done = RunHook({"cmd.exe", "/d", "/c", "exit 3"}, "{}\n", kEnvironment);
  EXPECT_TRUE(done.started) << done.error;
  EXPECT_EQ(done.exitCode, 3);
  EXPECT_EQ(station::HookComplaint(done), "on-result: exit 3");

  const HookOutcome missing = RunHook({"quorvex-no-such-hook.exe"}, "{}\n", kEnvironment);
  EXPECT_FALSE(missing.started);
  EXPECT_TRUE(station::HookComplaint(missing).starts_with("on-result: cannot start: "))
      << station::HookComplaint(missing);
}

#endif

}  // namespace
}  // namespace quorvex::test
