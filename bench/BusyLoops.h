#pragma once

#include <sys/types.h>

#include <vector>

namespace quorvex::bench {

// Processes that do nothing but spin at normal priority, the way other programs on a busy
// bench PC take the CPU: started by the constructor, killed by the destructor. They are
// separate processes in this program's session, so they compete with the programmer, the
// simulated instrument and the minimal host alike. Each also dies with this program.
class BusyLoops {
 public:
  explicit BusyLoops(int count);
  ~BusyLoops();
  BusyLoops(const BusyLoops&) = delete;
  BusyLoops& operator=(const BusyLoops&) = delete;

  [[nodiscard]] int Count() const { return static_cast<int>(pids_.size()); }

 private:
  std::vector<pid_t> pids_;
};

}  // namespace quorvex::bench
