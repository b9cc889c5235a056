// The progress rows of several ports and the cutting of text to a terminal's columns, drawn
// by libvterm the way a terminal window shows them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Columns.h"
#include "ProgressRows.h"
#include "Screen.h"

namespace quorvex::cli {
namespace {

using test::Screen;

struct CutCase {
  const char* name;
  std::string text;
  std::size_t columns;
  std::string cut;    // CutToColumns
  std::size_t width;  // DisplayColumns of the text
  std::string kept;   // KeepEnd
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class CutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutTest, ByColumnsNotBytes) {
  const CutCase& c = GetParam();
  EXPECT_EQ(DisplayColumns(c.text), c.width);
  EXPECT_EQ(CutToColumns(c.text, c.columns), c.cut);
  EXPECT_EQ(KeepEnd(c.text, c.columns), c.kept);
}

INSTANTIATE_TEST_SUITE_P(Columns, CutTest,
                         ::testing::ValuesIn(std::vector<CutCase>{
                             {"AsciiFits", "ttyUSB0", 7, "ttyUSB0", 7, "ttyUSB0"},
                             {"AsciiCut", "ttyUSB10", 5, "ttyUS", 8, "…SB10"},
                             {"CyrillicIsOneColumnOfTwoBytes", "стенд-12", 5, "стенд", 8, "…д-12"},
                             {"CyrillicFitsByColumns", "Стенд", 5, "Стенд", 5, "Стенд"},
                             {"WideCharacterIsNotHalved", "ab中文", 3, "ab", 6, "…文"},
                             {"WideCharacterFillsTwo", "ab中文", 4, "ab中", 6, "…文"},
                             {"CombiningMarkStaysWithItsLetter", "e\xcc\x81tat", 1, "e\xcc\x81", 4,
                              "…"},
                             {"StrayByteIsOneColumn",
                              "a\x80"
                              "bc",
                              2, "a\x80", 4, "…c"},
                             {"CutSequenceAtTheEnd", "ab\xd0", 2, "ab", 3, "…\xd0"},
                             {"NothingFits", "slot", 0, "", 4, ""},
                             {"Empty", "", 3, "", 0, ""},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

struct RowCase {
  const char* name;
  std::string label;
  std::size_t labelColumns;
  int percent;
  std::size_t bytes;
  double seconds;
  std::size_t columns;
  std::string row;
};

void PrintTo(const RowCase& c, std::ostream* os) { *os << c.name; }

class RowTextTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowTextTest, NarrowsBarThenDropsFigures) {
  const RowCase& c = GetParam();
  const std::string row =
      ProgressRowText(c.label, c.labelColumns, c.percent, c.bytes, 65536, c.seconds, c.columns);
  EXPECT_EQ(row, c.row);
  EXPECT_LT(DisplayColumns(row), c.columns);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowTextTest,
    ::testing::ValuesIn(std::vector<RowCase>{
        {"WideTerminalWholeBar", "slot2", 6, 50, 32768, 8.0, 120,
         "slot2 : [###############...............]  50%  32768/65536 B  4.0 KB/s  0:08 left"},
        {"EightyColumnsNarrowerBar", "slot2", 6, 50, 32768, 8.0, 80,
         "slot2 : [##############..............]  50%  32768/65536 B  4.0 KB/s  0:08 left"},
        {"RateGoesFirst", "slot2", 6, 50, 32768, 8.0, 50,
         "slot2 : [#########..........]  50%  32768/65536 B"},
        {"ThenTheBytes", "slot2", 6, 50, 32768, 8.0, 30, "slot2 : [#######.......]  50%"},
        {"ThePercentageLast", "slot2", 6, 50, 32768, 8.0, 20, "slot2 : 50%"},
        {"LongNameKeepsItsEnd", "usb-FTDI_FT232R_USB_UART_A10K3Z9Q-if00-port0", 19, 100, 65536, 9.0,
         40, "…10K3Z9Q-if00-port0: [###########] 100%"},
        {"CyrillicNameByColumns", "стенд", 6, 10, 6553, 2.0, 30, "стенд : [#.............]  10%"},
        {"NameGivesWayToThePercentage", "ttyUSB10", 8, 100, 65536, 2.0, 9, "…0: 100%"},
        {"OnlyThePercentage", "slot2", 5, 100, 65536, 2.0, 6, "100%"},
        {"NotEvenThat", "slot2", 5, 100, 65536, 2.0, 4, ""},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever the width, a row never reaches the last column.
TEST(RowText, NeverReachesTheLastColumn) {
  for (const std::string label : {"ttyUSB0", "стенд-номер-семь", "中文名字", "e\xcc\x81"}) {
    for (std::size_t columns = 1; columns <= 100; ++columns) {
      const std::string row = ProgressRowText(label, std::min<std::size_t>(8, columns / 2), 42,
                                              27525, 65536, 3.0, columns);
      EXPECT_LT(DisplayColumns(row), std::max<std::size_t>(columns, 1)) << label << columns;
    }
  }
}

TEST(ShortPortNameTest, LastPartOfAPath) {
  EXPECT_EQ(ShortPortName("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"),
            "usb-FTDI_FT232R-if00-port0");
  EXPECT_EQ(ShortPortName("ttyUSB0"), "ttyUSB0");
  EXPECT_EQ(ShortPortName("COM3"), "COM3");
  EXPECT_EQ(ShortPortName(R"(\\.\COM12)"), "COM12");
  EXPECT_EQ(ShortPortName("/tmp/slots/"), "/tmp/slots/");
}

// Writes to the window through the terminal driver, which turns each line feed into a
// carriage return and a line feed.
void Show(Screen& screen, const std::string& bytes) {
  std::string translated;
  for (const char c : bytes) translated += c == '\n' ? std::string("\r\n") : std::string(1, c);
  screen.Feed(translated);
}

// The lines of a window that are not blank.
std::vector<std::string> Written(const Screen& screen) {
  std::vector<std::string> lines;
  for (const Screen::Line& line : screen.Window()) {
    EXPECT_FALSE(line.full) << line.text;
    if (!line.text.empty()) lines.push_back(line.text);
  }
  return lines;
}

const std::vector<std::string> kPorts{"/dev/ttyUSB2", "/dev/ttyUSB10", "/b/slot", "/a/slot"};

TEST(ProgressRowsOnScreen, InTheOrderGivenWithLinesPrintedAbove) {
  Screen screen(10, 60);
  ProgressRows rows(kPorts, ProgressRows::Style::InPlace);
  rows.Set("/a/slot", 30, 19660, 65536, 1.0);
  rows.Set("/dev/ttyUSB10", 10, 6553, 65536, 1.0);
  Show(screen, rows.Draw({60, 10}));
  rows.Set("/dev/ttyUSB2", 20, 13107, 65536, 1.0);
  Show(screen, rows.Draw({60, 10}));
  Show(screen, rows.Wipe() + "a log line\n");
  Show(screen, rows.Draw({60, 10}));
  // Names that end alike keep their whole paths; the others show their last part.
  EXPECT_EQ(Written(screen), (std::vector<std::string>{
                                 "a log line",
                                 "ttyUSB2 : [#####......................]  20%  13107/65536 B",
                                 "ttyUSB10: [##..........................]  10%  6553/65536 B",
                                 "/a/slot : [########...................]  30%  19660/65536 B",
                             }));
  Show(screen, rows.Wipe() + "the summary\n");
  rows.Clear();
  Show(screen, rows.Draw({60, 10}));
  EXPECT_EQ(Written(screen), (std::vector<std::string>{"a log line", "the summary"}));
}

// The width is the terminal's at each redraw: a window made narrower gets narrower rows,
// and the cursor goes up as many rows as were drawn, not more.
TEST(ProgressRowsOnScreen, NarrowerWindowNarrowerRows) {
  Screen screen(8, 80);
  Show(screen, "above\n");
  ProgressRows rows(kPorts, ProgressRows::Style::InPlace);
  rows.Set("/dev/ttyUSB2", 50, 32768, 65536, 2.0);
  rows.Set("/dev/ttyUSB10", 60, 39321, 65536, 2.0);
  Show(screen, rows.Draw({80, 8}));
  screen.Resize(8, 30);
  Show(screen, rows.Draw({30, 8}));
  EXPECT_EQ(Written(screen), (std::vector<std::string>{
                                 "above",
                                 "ttyUSB2 : [######......]  50%",
                                 "ttyUSB10: [#######.....]  60%",
                             }));
}

// More rows than the window has lines: those that fit under the line the cursor waits on,
// and how many did not.
TEST(ProgressRowsOnScreen, MoreRowsThanLines) {
  Screen screen(4, 40);
  ProgressRows rows(kPorts, ProgressRows::Style::InPlace);
  for (const std::string& port : kPorts) rows.Set(port, 5, 3276, 65536, 1.0);
  for (int i = 0; i < 3; ++i) {
    Show(screen, rows.Draw({40, 4}));
    Show(screen, rows.Wipe() + "line " + std::to_string(i) + "\n");
  }
  Show(screen, rows.Draw({40, 4}));
  // The log lines went up into the scrollback, and no row with them.
  EXPECT_EQ(screen.Transcript(), (std::vector<std::string>{
                                     "line 0",
                                     "line 1",
                                     "line 2",
                                     "ttyUSB2 : [#.....................]   5%",
                                     "ttyUSB10: [#.....................]   5%",
                                     "... 2 more",
                                 }));
}

// Without cursor movement: one line after a carriage return, covering a longer one before.
TEST(ProgressRowsOnScreen, OneLineWithoutEscapes) {
  Screen screen(4, 40);
  ProgressRows rows(kPorts, ProgressRows::Style::OneLine);
  rows.Set("/dev/ttyUSB2", 100, 65536, 65536, 2.0);
  rows.Set("/dev/ttyUSB10", 100, 65536, 65536, 2.0);
  rows.Set("/b/slot", 100, 65536, 65536, 2.0);
  std::string bytes = rows.Draw({40, 4});
  EXPECT_EQ(Written(screen).size(), 0u);
  Show(screen, bytes);
  EXPECT_EQ(Written(screen), (std::vector<std::string>{"ttyUSB2 100%  ttyUSB10 100%  +1"}));
  rows.Clear();
  rows.Set("/dev/ttyUSB2", 7, 4587, 65536, 2.0);
  bytes += rows.Draw({40, 4});
  bytes += rows.Wipe() + "done\n";
  EXPECT_EQ(bytes.find('\033'), std::string::npos);
  Screen fresh(4, 40);
  Show(fresh, bytes);
  EXPECT_EQ(Written(fresh), (std::vector<std::string>{"done"}));
}

}  // namespace
}  // namespace quorvex::cli
