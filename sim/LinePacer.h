#pragma once

#include <algorithm>
#include <chrono>

namespace quorvex::sim {

// Holds bytes to the time they take on the line: 62,500 baud, 10 bits a byte, 160 us a byte.
// Each direction keeps the absolute time its last byte finished, so waiting late for one byte
// never delays the ones after it. Disabled, every byte takes no time.
class LinePacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kByteTime = std::chrono::microseconds(160);

  explicit LinePacer(bool enabled) : enabled_(enabled) {}

  [[nodiscard]] bool Enabled() const { return enabled_; }
  // When a byte the host wrote at `written` has arrived in full.
  Clock::time_point Incoming(Clock::time_point written) { return Next(&lastIn_, written); }
  // When a byte the loader has ready at `ready` has left in full.
  Clock::time_point Outgoing(Clock::time_point ready) { return Next(&lastOut_, ready); }

 private:
  Clock::time_point Next(Clock::time_point* last, Clock::time_point start) const {
    if (!enabled_) return start;
    *last = std::max(*last, start) + kByteTime;
    return *last;
  }

  bool enabled_;
  Clock::time_point lastIn_{};
  Clock::time_point lastOut_{};
};

}  // namespace quorvex::sim
