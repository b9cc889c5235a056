#pragma once

// Programming runs and listings through quorvex-cli and through the minimal host in turns on
// one paced instrument, round by round, so both see the same machine at the same time.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FirmwareImage.h"
#include "Options.h"

namespace quorvex::bench {

// What one run cost its host: wall and CPU seconds, how often it waited (each voluntary
// context switch is a wait that ended in a wake-up) or was put aside for another program, and
// for a quorvex-cli run its peak memory.
struct RunCost {
  double wall = 0;
  double cpu = 0;
  long waits = 0;
  long preempted = 0;
  long peakKilobytes = 0;
};

double MedianWall(const std::vector<RunCost>& runs);

// quorvex-cli and the minimal host, measured in turns: the ratio of each round. For listings
// the minimal host also runs as a program of its own, started and reaped as quorvex-cli is:
// a listing is short enough that the start of a process shows in it.
struct SideBySide {
  std::vector<RunCost> cli;
  std::vector<RunCost> baseline;         // the minimal host inside the bench
  std::vector<RunCost> baselineProcess;  // the same host as a process; empty for programming

  // One round, the hosts in turns; the order is reversed every other round so that none
  // always runs on a line just used. `runProcess` may be empty.
  void AddRound(bool cliFirst, const std::function<RunCost()>& runCli,
                const std::function<RunCost()>& runBaseline,
                const std::function<RunCost()>& runProcess = {});
  // quorvex-cli against the minimal host inside the bench, round by round.
  [[nodiscard]] double MedianRatio() const;
  // quorvex-cli against the minimal host as a process, round by round; 0 when it did not run.
  [[nodiscard]] double MedianRatioToProcess() const;
};

struct PacedPair {
  SideBySide programs;
  SideBySide lists;

  // The share of its wall time quorvex-cli spent on the CPU, over programs and listings.
  [[nodiscard]] double CliCpuShare() const;
  // The most memory any quorvex-cli run took.
  [[nodiscard]] long CliPeakKilobytes() const;
};

// options.runs rounds on the paced instrument at `line`; quorvex-cli programs `firmware`, the
// minimal host the same `image`, into options.sector; `minimalHost` is the minimal host's
// own program, which lists. Every run must succeed, or Fail.
PacedPair MeasureSideBySide(const std::filesystem::path& cli,
                            const std::filesystem::path& minimalHost, const std::string& line,
                            const std::filesystem::path& firmware, const FileBytes& image,
                            const Options& options);

// The figures of one command (`what`: "program:" or "list:") against the least time the line
// needs (`limit`, seconds) and the minimal host, whose ratio is held to `target`.
void PrintSideBySide(const char* what, const SideBySide& runs, double limit, double target);

}  // namespace quorvex::bench
