#pragma once

// Several paced instruments programmed at once by one quorvex-cli, and one alone beside it,
// in turns: the slowest of them against the single run, and the CPU time per instrument.
#include <filesystem>
#include <string>
#include <vector>

#include "Options.h"

namespace quorvex::bench {

// One quorvex-cli --json programming run on the lines: the seconds of each port's run as its
// result event gives them, and the CPU time of the whole process. Every port must end 0.
struct JsonRun {
  std::vector<double> seconds;
  double cpuSeconds = 0;
};

JsonRun RunJson(const std::filesystem::path& cli, const std::vector<std::string>& lines,
                const std::filesystem::path& firmware, int sector);

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
