#pragma once

// Without pacing: programming runs and listings through quorvex-cli against a simulated
// instrument in this process, which answers at once, so what is left beyond the mandated
// pauses is what the host and the pseudo-terminal add.
#include <filesystem>
#include <vector>

#include "LineCount.h"
#include "Options.h"

namespace quorvex::bench {

// Runs of one quorvex-cli command: wall time, CPU time and peak memory of each.
struct Runs {
  std::vector<double> wall;
  std::vector<double> cpu;
  long peakKilobytes = 0;

  [[nodiscard]] double MedianWall() const;
  [[nodiscard]] double MedianCpu() const;
};

struct UnpacedFigures {
  Runs program;
  Runs list;
};

// options.runs programming runs of `firmware` into options.sector, then as many listings.
// Every run must end with exit code 0 and send the instrument exactly the bytes counted for
// it (`program`, `listing`), or Fail.
UnpacedFigures MeasureUnpaced(const std::filesystem::path& cli,
                              const std::filesystem::path& firmware, const LineTraffic& program,
                              const LineTraffic& listing, const Options& options);

// The medians against the pauses and bytes counted for each command.
void PrintUnpaced(const UnpacedFigures& figures, const LineTraffic& program,
                  const LineTraffic& listing);

}  // namespace quorvex::bench
