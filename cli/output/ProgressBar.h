#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace quorvex::cli {

// The parts of a transfer's progress as text: " 45%", "  29491/65536 B" and, while the rate
// is known, "  3.9 KB/s  0:09 left".
struct ProgressFigures {
  std::string percent;
  std::string bytes;
  std::string rate;  // empty before the rate is known and once the transfer is complete
};

// A one-line progress bar for a terminal: bar, percentage, bytes, rate and time left,
// redrawn in place and wiped when the transfer ends or a log line must be printed. The line
// is cut to the terminal's width, read at each redraw, so that it never wraps.
class ProgressBar {
 public:
  // `columns` gives the terminal's width (0: unknown). Without `escapes` (a terminal that
  // cannot erase a line) the line is redrawn after a carriage return and padded with spaces.
  ProgressBar(std::FILE* out, std::size_t totalBytes, std::function<std::size_t()> columns,
              bool escapes = true)
      : out_(out), total_(totalBytes), columns_(std::move(columns)), escapes_(escapes) {}

  void Start();
  void Update(int percent, std::size_t bytes);
  void Clear();  // leaves the cursor at the start of an empty line
  [[nodiscard]] bool Visible() const { return visible_; }

  // The text of the line without control characters.
  static std::string Render(int percent, std::size_t bytes, std::size_t total, double seconds);
  // "[###.......]": `width` columns between the brackets.
  static std::string Bar(int percent, std::size_t width);
  static ProgressFigures Figures(int percent, std::size_t bytes, std::size_t total, double seconds);

 private:
  void Emit(const std::string& text) const;

  std::FILE* out_;
  std::size_t total_;
  std::function<std::size_t()> columns_;
  bool escapes_;
  std::chrono::steady_clock::time_point start_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  std::size_t drawnColumns_ = 0;  // what a redraw without escapes must cover
  bool visible_ = false;
};

}  // namespace quorvex::cli
