#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal.h"

namespace quorvex::cli {

// The progress of several transfers on one terminal, as the bytes to write to it. Each port
// whose transfer has begun has a row, in the order the ports were given, cut to the width
// the terminal has at that redraw; a redraw moves the cursor up exactly the rows it drew the
// time before. A terminal that cannot move the cursor gets one line for all of them instead.
class ProgressRows {
 public:
  enum class Style { InPlace, OneLine };

  // `ports`: the names the output calls the ports by, in the order given.
  ProgressRows(const std::vector<std::string>& ports, Style style);

  // Where a port's transfer is; a port that is not one of the rows is ignored.
  void Set(std::string_view port, int percent, std::size_t bytes, std::size_t total,
           double seconds);
  // Redraws every row for a terminal of this size (0: unknown) and leaves the cursor below
  // them, or at the end of the single line. Empty when no transfer has begun.
  std::string Draw(TerminalSize size);
  // Takes the rows off the screen and leaves the cursor where the first one was.
  std::string Wipe();
  // Forgets every transfer: nothing is drawn any more.
  void Clear();

  [[nodiscard]] bool Shown() const { return shownLines_ > 0 || shownColumns_ > 0; }

 private:
  struct Row {
    std::string port;
    std::string label;
    bool started = false;
    int percent = 0;
    std::size_t bytes = 0;
    std::size_t total = 0;
    double seconds = 0;
  };

  std::string DrawInPlace(std::size_t columns, std::size_t lines);
  std::string DrawOneLine(std::size_t columns);

  std::vector<Row> rows_;
  Style style_;
  std::size_t shownLines_ = 0;    // rows on screen, each ended by a line feed
  std::size_t shownColumns_ = 0;  // the single line's width on screen
};

// What a row calls a port: the last part of a path (a /dev/serial/by-id/... link's name
// tells the adapter), the name itself otherwise.
std::string ShortPortName(std::string_view name);

// One port's row without control characters, `label` padded or cut to `labelColumns`,
// never reaching column `columns` (the last one, where a character makes a terminal wrap).
// The bar narrows first, then the rate and the byte count go, the percentage stays longest.
std::string ProgressRowText(std::string_view label, std::size_t labelColumns, int percent,
                            std::size_t bytes, std::size_t total, double seconds,
                            std::size_t columns);

}  // namespace quorvex::cli
