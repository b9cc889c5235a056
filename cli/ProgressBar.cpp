#include "ProgressBar.h"

#include <cmath>

namespace quorvex::cli {

std::string ProgressBar::Render(int percent, std::size_t bytes, std::size_t total, double seconds) {
  constexpr int kWidth = 30;
  const int filled = percent < 0 ? 0 : percent > 100 ? kWidth : percent * kWidth / 100;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), '.') + "]";
  char tail[128];
  const double rate = seconds > 0.05 ? static_cast<double>(bytes) / seconds : 0.0;
  if (rate > 0.0 && bytes < total) {
    const auto left = static_cast<long>(std::lround(static_cast<double>(total - bytes) / rate));
    std::snprintf(tail, sizeof tail, " %3d%%  %zu/%zu B  %.1f KB/s  %ld:%02ld left", percent, bytes,
                  total, rate / 1024.0, left / 60, left % 60);
  } else {
    std::snprintf(tail, sizeof tail, " %3d%%  %zu/%zu B", percent, bytes, total);
  }
  return line + tail;
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
  std::fprintf(out_, "\r%s\033[K", Render(percent, bytes, total_, seconds).c_str());
  std::fflush(out_);
  visible_ = true;
}

void ProgressBar::Clear() {
  if (!visible_) return;
  std::fprintf(out_, "\r\033[K");
  std::fflush(out_);
  visible_ = false;
}

}  // namespace quorvex::cli
