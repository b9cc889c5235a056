#include "ProgressBar.h"

#include <cmath>

#include "Columns.h"
#include "StandardStreams.h"

namespace quorvex::cli {

std::string ProgressBar::Bar(int percent, std::size_t width) {
  const int clamped = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  const std::size_t filled = static_cast<std::size_t>(clamped) * width / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

ProgressFigures ProgressBar::Figures(int percent, std::size_t bytes, std::size_t total,
                                     double seconds) {
  ProgressFigures figures;
  char text[96];
  std::snprintf(text, sizeof text, " %3d%%", percent);
  figures.percent = text;
  std::snprintf(text, sizeof text, "  %zu/%zu B", bytes, total);
  figures.bytes = text;
  const double rate = seconds > 0.05 ? static_cast<double>(bytes) / seconds : 0.0;
  if (rate > 0.0 && bytes < total) {
    const auto left = static_cast<long>(std::lround(static_cast<double>(total - bytes) / rate));
    std::snprintf(text, sizeof text, "  %.1f KB/s  %ld:%02ld left", rate / 1024.0, left / 60,
                  left % 60);
    figures.rate = text;
  }
  return figures;
}

std::string ProgressBar::Render(int percent, std::size_t bytes, std::size_t total, double seconds) {
  const ProgressFigures f = Figures(percent, bytes, total, seconds);
  return Bar(percent, 30) + f.percent + f.bytes + f.rate;
}

void ProgressBar::Start() {
  start_ = std::chrono::steady_clock::now();
  lastDraw_ = {};
  Update(0, 0);
}

void ProgressBar::Update(int percent, std::size_t bytes) {
  const auto now = std::chrono::steady_clock::now();
  // Redraw at most 20 times a second; a terminal is slower than the line otherwise.
  if (visible_ && now - lastDraw_ < std::chrono::milliseconds(50) && bytes < total_) return;
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line = Render(percent, bytes, total_, seconds);
  // The last column stays empty: a character there makes some terminals wrap the line.
  if (const std::size_t columns = columns_ ? columns_() : 0; columns > 1) {
    line = CutToColumns(line, columns - 1);
  }
  const std::size_t drawn = DisplayColumns(line);
  if (escapes_) {
    line = "\r" + line + "\033[K";
  } else {
    line = "\r" + line + std::string(drawnColumns_ > drawn ? drawnColumns_ - drawn : 0, ' ');
  }
  drawnColumns_ = drawn;
  Emit(line);
  visible_ = true;
}

void ProgressBar::Clear() {
  if (!visible_) return;
  if (escapes_) {
    Emit("\r\033[K");
  } else {
    Emit("\r" + std::string(drawnColumns_, ' ') + "\r");
  }
  drawnColumns_ = 0;
  visible_ = false;
}

// Through the one writer of the standard streams, like every other line: a terminal that
// went away is given up there, not written to again.
void ProgressBar::Emit(const std::string& text) const {
  WriteStandard(out_ == stdout ? StandardStream::Out : StandardStream::Err, text);
}

}  // namespace quorvex::cli
