#pragma once

#include <cstddef>

namespace quorvex::cli {

// The size of the terminal or console window stderr shows on; 0 where it is unknown.
struct TerminalSize {
  std::size_t columns = 0;
  std::size_t lines = 0;
};

// Read again at every redraw: the window may have been resized since the last one.
TerminalSize StderrSize();

// Whether stderr's terminal moves the cursor and erases lines on escape sequences. A Windows
// console does so only once asked to, and gets its old mode back when this object goes;
// elsewhere a terminal does unless it calls itself dumb.
class StderrEscapes {
 public:
  StderrEscapes();
  ~StderrEscapes();
  StderrEscapes(const StderrEscapes&) = delete;
  StderrEscapes& operator=(const StderrEscapes&) = delete;

  [[nodiscard]] bool On() const { return on_; }

 private:
  bool on_ = false;
  bool restore_ = false;
  unsigned long oldMode_ = 0;
};

}  // namespace quorvex::cli
