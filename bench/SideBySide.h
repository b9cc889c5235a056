#pragma once

// Programming runs and listings through quorvex-cli and through the minimal host in turns on
// one paced instrument, round by round, so both see the same machine at the same time.
#include <filesystem>
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

// quorvex-cli and the minimal host, measured in turns: the ratio of each round.
struct SideBySide {
  std::vector<RunCost> cli;
  std::vector<RunCost> baseline;

  template <typename Cli, typename Baseline>
  void Add(bool cliFirst, Cli runCli, Baseline runBaseline) {
    if (cliFirst) {
      cli.push_back(runCli());
      baseline.push_back(runBaseline());
    } else {
      baseline.push_back(runBaseline());
      cli.push_back(runCli());
    }
  }
  [[nodiscard]] double MedianRatio() const;
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
// minimal host the same `image`, into options.sector. Every run must succeed, or Fail.
PacedPair MeasureSideBySide(const std::filesystem::path& cli, const std::string& line,
                            const std::filesystem::path& firmware, const FileBytes& image,
                            const Options& options);

// The figures of one command (`what`: "program:" or "list:") against the least time the line
// needs (`limit`, seconds) and the minimal host, whose ratio is held to `target`.
void PrintSideBySide(const char* what, const SideBySide& runs, double limit, double target);

}  // namespace quorvex::bench
