#pragma once

// A plain host on the far end of the simulator's pseudo-terminal: open, raw mode, write, and
// reads with a deadline. Deliberately not the product's serial code.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::sim::test {

class LineHost {
 public:
  explicit LineHost(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios settings{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &settings) == 0) {
      ::cfmakeraw(&settings);
      ::tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~LineHost() {
    if (fd_ >= 0) ::close(fd_);
  }
  LineHost(const LineHost&) = delete;
  LineHost& operator=(const LineHost&) = delete;

  [[nodiscard]] bool Open() const { return fd_ >= 0; }

  bool Write(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Up to `count` bytes, whatever has come when the time-out runs out.
  std::vector<std::uint8_t> Read(std::size_t count,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd pfd{.fd = fd_, .events = POLLIN, .revents = 0};
      const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()) + 1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      if ((pfd.revents & POLLIN) == 0) {
        hungUp_ = true;
        break;
      }
      std::uint8_t buffer[512];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        hungUp_ = true;
        break;
      }
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  // Whether a read saw the line hang up (POLLHUP, end of file or EIO) instead of data.
  [[nodiscard]] bool SawHangup() const { return hungUp_; }

 private:
  int fd_;
  bool hungUp_ = false;
};

}  // namespace quorvex::sim::test
