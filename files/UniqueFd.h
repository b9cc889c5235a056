#pragma once

#include <utility>

namespace quorvex {

// Owns one POSIX file descriptor and closes it when it goes, on every way out.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  // Closes the descriptor held (if any) and holds `fd` instead.
  void Reset(int fd = -1);
  // Closes the descriptor now and reports whether close succeeded: for a file just written,
  // a failed close can be the first sign that the data did not reach the disk.
  [[nodiscard]] bool Close();

 private:
  int fd_ = -1;
};

}  // namespace quorvex
