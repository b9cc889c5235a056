#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace quorvex::cli {

// A one-line progress bar for a terminal: bar, percentage, bytes, rate and time left,
// redrawn in place and wiped when the transfer ends or a log line must be printed.
class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* out, std::size_t totalBytes) : out_(out), total_(totalBytes) {}

  void Start();
  void Update(int percent, std::size_t bytes);
  void Clear();  // leaves the cursor at the start of an empty line
  [[nodiscard]] bool Visible() const { return visible_; }

  // The text of the line without control characters (for tests).
  static std::string Render(int percent, std::size_t bytes, std::size_t total, double seconds);

 private:
  std::FILE* out_;
  std::size_t total_;
  std::chrono::steady_clock::time_point start_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  bool visible_ = false;
};

}  // namespace quorvex::cli
