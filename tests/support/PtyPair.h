#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::test {

// A pseudo-terminal whose master end plays the instrument; the host opens SlavePath()
// with the real serial code. The master descriptor closes with the object.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name != nullptr) slave_ = name;
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  [[nodiscard]] bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  [[nodiscard]] const std::string& SlavePath() const { return slave_; }
  [[nodiscard]] int Master() const { return master_; }

  bool Send(const std::vector<std::uint8_t>& bytes) const {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Reads what the host wrote, waiting up to `ms` for each further byte.
  std::vector<std::uint8_t> Drain(std::size_t atMost, int ms = 200) const {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < atMost) {
      pollfd pfd{master_, POLLIN, 0};
      if (::poll(&pfd, 1, ms) <= 0 || (pfd.revents & POLLIN) == 0) break;
      std::uint8_t buffer[512];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  // The adapter is unplugged: the host's side sees a hang-up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace quorvex::test
