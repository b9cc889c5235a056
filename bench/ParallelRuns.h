#pragma once

// Several paced instruments programmed at once by one quorvex-cli, and one alone beside it,
// in turns: the slowest of them against the single run, and the CPU time per instrument.
#include <filesystem>
#include <string>
#include <vector>

#include "Options.h"

namespace quorvex::bench {

struct ParallelFigures {
  double ratio = 0;
  double cpuTogether = 0;  // per instrument, seconds
  double cpuAlone = 0;
};

// options.runs rounds of `firmware` into options.sector on all of `lines` at once and on the
// first of them alone, with quorvex-cli --json, whose result events give each port's time.
ParallelFigures MeasureParallel(const std::filesystem::path& cli,
                                const std::vector<std::string>& lines,
                                const std::filesystem::path& firmware, const Options& options);

// The figures of `ports` instruments at once, whose ratio is held to `target`.
void PrintParallel(int ports, const ParallelFigures& figures, double target);

}  // namespace quorvex::bench
