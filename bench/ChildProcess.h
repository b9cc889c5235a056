#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::bench {

using Clock = std::chrono::steady_clock;

// What one finished child cost: wall time from just before it was started to the moment it
// was reaped, and its own CPU time and peak memory as the kernel accounted them.
struct ChildCost {
  int exitCode = -1;  // -1 when it was ended by a signal
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user + system
  long peakKilobytes = 0;
};

// A program started with stdin from /dev/null, stderr to /dev/null, and stdout either to
// /dev/null or to a pipe this object reads. Extra environment entries ("NAME=value") are
// added to (and override) this process's environment.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
             bool captureStdout, std::string* error);
  // The next line of its stdout without the line feed; nullopt when the child closed stdout
  // or the deadline passed first.
  std::optional<std::string> ReadLine(Clock::time_point deadline);
  // Waits for the child to end and reaps it.
  ChildCost Wait();
  // Sends the signal, then reaps the child.
  ChildCost Stop(int signal);
  [[nodiscard]] bool Running() const { return pid_ > 0; }
  [[nodiscard]] Clock::time_point StartedAt() const { return started_; }

 private:
  pid_t pid_ = -1;
  int stdoutRead_ = -1;
  std::string pending_;
  Clock::time_point started_{};
};

// Kills every child still running (for a way out that skips the destructors).
void KillRemainingChildren();

// Runs a program to its end with stdout and stderr discarded.
ChildCost RunToEnd(const std::vector<std::string>& argv, std::string* error);

}  // namespace quorvex::bench
