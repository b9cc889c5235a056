#pragma once

// What a terminal window shows after given output: libvterm interprets the bytes, cursor
// movement, erasing and automatic wrapping included, as a terminal emulator would.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace quorvex::test {

class Screen {
 public:
  Screen(int lines, int columns);
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  void Feed(std::string_view bytes);
  // The window resized; like many terminals, libvterm keeps each line's start, unwrapped.
  void Resize(int lines, int columns);

  // One line of the window or of what scrolled off its top: its text without trailing
  // blanks, and whether its last column holds a character (so the terminal may have wrapped
  // what followed onto the next line).
  struct Line {
    std::string text;
    bool full = false;
  };
  // The lines of the window, top to bottom.
  [[nodiscard]] std::vector<Line> Window() const;
  // Everything written, as lines: those scrolled off, then the window's down to its last
  // non-blank line; a line that filled the last column is joined with the one after it.
  [[nodiscard]] std::vector<std::string> Transcript() const;
  [[nodiscard]] int Columns() const { return columns_; }

 private:
  static int PushLine(int columns, const void* cells, void* self);

  VTerm* vt_;
  VTermScreen* screen_;
  int lines_;
  int columns_;
  std::vector<Line> scrolled_;
};

}  // namespace quorvex::test
