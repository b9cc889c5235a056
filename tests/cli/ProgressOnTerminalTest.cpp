// quorvex-cli's progress as a person sees it: the program writes to a pseudo-terminal of a
// given size, libvterm draws what a terminal window would show, and the window is checked
// after every read of the output and once the program has ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "OnTerminal.h"
#include "Processes.h"
#include "Screen.h"

namespace quorvex::test {
namespace {

constexpr unsigned short kLines = 24;

// A progress bar on a line, and the name before it in a row ("slot2: [###...").
const std::regex kRow(R"(^(.*\S)\s*: \[[#.]+)");
const std::regex kBar(R"(\[[#.]{3,})");
// What is left of a progress line that a terminal wrapped onto the next line.
const std::regex kBarRemains(R"(\d+/65536 B|KB/s|\d:\d\d left)");

struct SeenRow {
  std::string name;
  bool full;  // reaches the last column: the terminal would wrap what comes after it
};

// The progress rows in the window, top to bottom; fails when they are not one block at the
// bottom of what is written (a log line among them or under them).
std::vector<SeenRow> RowsIn(const std::vector<Screen::Line>& window) {
  std::vector<SeenRow> rows;
  std::size_t last = 0;
  bool any = false;
  std::size_t first = 0;
  for (std::size_t i = 0; i < window.size(); ++i) {
    std::smatch match;
    if (std::regex_search(window[i].text, match, kRow)) {
      rows.push_back({match[1].str(), window[i].full});
      if (!any) first = i;
      any = true;
      last = i;
    }
  }
  if (!any) return rows;
  for (std::size_t i = first; i < window.size(); ++i) {
    const bool isRow = std::regex_search(window[i].text, kRow);
    if (i > first && i <= last) {
      EXPECT_TRUE(isRow) << "a line among the rows: " << window[i].text;
    } else if (i > last) {
      EXPECT_EQ(window[i].text, "") << "a line under the rows";
    }
  }
  return rows;
}

// A row shows a port by the last part of its path, or by the end of that after "…" when the
// terminal is too narrow for all of it.
bool Shows(const std::string& label, const std::string& shortName) {
  const std::string ellipsis = "…";
  if (label == shortName) return true;
  return label.starts_with(ellipsis) && label.size() > ellipsis.size() + 4 &&
         shortName.ends_with(label.substr(ellipsis.size()));
}

// Three instruments on links whose names sort otherwise than they are given: slot2, slot10,
// and a serial adapter's long name as /dev/serial/by-id gives it.
class ThreeSlots {
 public:
  ThreeSlots() {
    fs::create_directories(ws_.Dir() / "serial" / "by-id");
    for (const std::string& name : {std::string("slot2"), std::string("slot10"), kById}) {
      sims_.push_back(std::make_unique<SimProcess>(
          ws_.Dir(), std::vector<std::string>{"--fault", "delay-ms=3"}, name));
      EXPECT_TRUE(sims_.back()->Ready());
      shortNames_.push_back(fs::path(name).filename().string());
    }
  }

  // quorvex-cli programs all three on a terminal, `screen` seeing every read of its output.
  TerminalRun Program(Screen& screen, const std::string& term,
                      const std::function<void()>& afterEachRead) {
    std::vector<std::string> argv{QUORVEX_CLI};
    for (const auto& sim : sims_) argv.insert(argv.end(), {"-p", sim->Port()});
    argv.insert(argv.end(), {"-y", "program", ws_.Firmware(), "-s", "3"});
    return RunOnTerminal(argv, {"XDG_CONFIG_HOME=" + ws_.Config().string(), "TERM=" + term},
                         static_cast<unsigned short>(screen.Columns()), kLines,
                         [&](std::string_view bytes) {
                           screen.Feed(bytes);
                           afterEachRead();
                         });
  }

  [[nodiscard]] const std::vector<std::string>& ShortNames() const { return shortNames_; }
  [[nodiscard]] std::string Port(std::size_t i) const { return sims_[i]->Port(); }

  // The summary lines end the transcript, one per port, in the order given. Long port names
  // make lines exactly as wide as the terminal or wider, and a line that fills the last column
  // cannot be told from one that wrapped: the lines are read as one text.
  void ExpectSummaryLast(const std::vector<std::string>& transcript) const {
    std::string text;
    for (const std::string& line : transcript) text += line;
    std::size_t from = text.rfind("ОК");  // the last log line of the runs
    ASSERT_NE(from, std::string::npos) << text;
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < sims_.size(); ++i) {
      const std::size_t at = text.find(sims_[i]->Port() + ": ok, ", from);
      ASSERT_NE(at, std::string::npos) << sims_[i]->Port() << " in\n" << text.substr(from);
      last = at + sims_[i]->Port().size();
      from = at + 1;
    }
    EXPECT_EQ(text.rfind(": ok, "), last) << "nothing after the last summary line";
  }

  inline static const std::string kById =
      "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z9Q-if00-port0";

 private:
  Workspace ws_;
  std::vector<std::unique_ptr<SimProcess>> sims_;
  std::vector<std::string> shortNames_;
};

class SeveralRowsTest : public ::testing::TestWithParam<int> {};

// One row per port, in the order given, never wider than the window, redrawn in place; the
// summary lines take their place at the end.
TEST_P(SeveralRowsTest, OneRowPerPortInTheOrderGivenAndNoneLeftBehind) {
  const int columns = GetParam();
  ThreeSlots slots;
  Screen screen(kLines, columns);
  std::size_t mostRows = 0;
  bool allInOrder = false;
  const TerminalRun run = slots.Program(screen, "xterm", [&] {
    const std::vector<SeenRow> rows = RowsIn(screen.Window());
    mostRows = std::max(mostRows, rows.size());
    // The rows seen are those of ports in the order given, each once: a name seen again
    // is a row left behind by a redraw that did not reach it.
    std::size_t next = 0;
    for (const SeenRow& row : rows) {
      EXPECT_FALSE(row.full) << "a row reaches the last column: " << row.name;
      while (next < slots.ShortNames().size() && !Shows(row.name, slots.ShortNames()[next])) {
        ++next;
      }
      ASSERT_LT(next, slots.ShortNames().size()) << "row out of order or stale: " << row.name;
      ++next;
    }
    allInOrder = allInOrder || rows.size() == slots.ShortNames().size();
  });
  EXPECT_EQ(run.code, 0) << run.bytes;
  EXPECT_EQ(mostRows, 3u);
  EXPECT_TRUE(allInOrder);

  const std::vector<std::string> transcript = screen.Transcript();
  for (const std::string& line : transcript) {
    EXPECT_FALSE(std::regex_search(line, kBar)) << "a progress row left behind: " << line;
    EXPECT_FALSE(std::regex_search(line, kBarRemains)) << "a wrapped row left behind: " << line;
  }
  slots.ExpectSummaryLast(transcript);
}

INSTANTIATE_TEST_SUITE_P(Columns, SeveralRowsTest, ::testing::Values(80, 40),
                         [](const auto& info) { return std::to_string(info.param); });

// A terminal that cannot move the cursor gets one status line for every port, redrawn after
// a carriage return: no escape sequence at all, and nothing of it left at the end.
TEST(SeveralRowsOnADumbTerminal, OneStatusLineWithoutEscapes) {
  ThreeSlots slots;
  Screen screen(kLines, 80);
  const std::regex status(R"(slot2 \d+%)");
  bool seen = false;
  const TerminalRun run = slots.Program(screen, "dumb", [&] {
    int lines = 0;
    for (const Screen::Line& line : screen.Window()) {
      if (!std::regex_search(line.text, status)) continue;
      ++lines;
      EXPECT_FALSE(line.full) << line.text;
      EXPECT_TRUE(line.text.starts_with("slot2 ")) << line.text;
    }
    EXPECT_LE(lines, 1);
    seen = seen || lines == 1;
  });
  EXPECT_EQ(run.code, 0) << run.bytes;
  EXPECT_TRUE(seen);
  EXPECT_EQ(run.bytes.find('\033'), std::string::npos);
  const std::vector<std::string> transcript = screen.Transcript();
  for (const std::string& line : transcript) {
    EXPECT_FALSE(std::regex_search(line, status)) << "a status line left behind: " << line;
  }
  slots.ExpectSummaryLast(transcript);
}

// One port: the bar of old, drawn after a carriage return and erased to the end of the line,
// cut to a narrow window so that it never wraps.
class SingleBarTest : public ::testing::TestWithParam<int> {};

TEST_P(SingleBarTest, RedrawnOnItsOwnLineAndGoneAtTheEnd) {
  const int columns = GetParam();
  Workspace ws;
  SimProcess sim(ws.Dir(), {"--fault", "delay-ms=2"}, "slot1");
  ASSERT_TRUE(sim.Ready());
  Screen screen(kLines, columns);
  bool seen = false;
  const TerminalRun run =
      RunOnTerminal({QUORVEX_CLI, "-p", sim.Port(), "-y", "program", ws.Firmware(), "-s", "3"},
                    {"XDG_CONFIG_HOME=" + ws.Config().string(), "TERM=xterm"},
                    static_cast<unsigned short>(columns), kLines, [&](std::string_view bytes) {
                      screen.Feed(bytes);
                      int bars = 0;
                      for (const Screen::Line& line : screen.Window()) {
                        if (!std::regex_search(line.text, kBar)) continue;
                        ++bars;
                        EXPECT_FALSE(line.full) << line.text;
                        EXPECT_TRUE(line.text.starts_with("[")) << line.text;
                      }
                      EXPECT_LE(bars, 1);
                      seen = seen || bars == 1;
                    });
  EXPECT_EQ(run.code, 0) << run.bytes;
  EXPECT_TRUE(seen);
  for (const std::string& line : screen.Transcript()) {
    EXPECT_FALSE(std::regex_search(line, kBar)) << "the bar left behind: " << line;
    EXPECT_FALSE(std::regex_search(line, kBarRemains)) << "a wrapped bar left behind: " << line;
  }
  if (columns >= 80) {
    // Wide enough: every redraw is byte for byte the bar it always was.
    const std::regex draw(
        R"(\r\[[#.]{30}\] +\d+%  \d+/65536 B(  \d+\.\d KB/s  \d+:\d\d left)?\x1b\[K)");
    const std::regex start(R"(\r\[)");
    const auto count = [&run](const std::regex& pattern) {
      return std::distance(std::sregex_iterator(run.bytes.begin(), run.bytes.end(), pattern),
                           std::sregex_iterator());
    };
    const auto draws = count(start);
    const auto whole = count(draw);
    EXPECT_GT(draws, 0);
    EXPECT_EQ(whole, draws) << run.bytes;
  }
}

INSTANTIATE_TEST_SUITE_P(Columns, SingleBarTest, ::testing::Values(80, 40),
                         [](const auto& info) { return std::to_string(info.param); });

}  // namespace
}  // namespace quorvex::test
