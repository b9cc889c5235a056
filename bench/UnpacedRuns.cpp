#include "UnpacedRuns.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "BenchCommon.h"
#include "ChildProcess.h"
#include "SimulatedInstrument.h"

namespace quorvex::bench {
namespace {

// Runs the command `runs` times; every run must end with exit code 0. `check` runs after
// each one (it may throw the run out with Fail).
template <typename Check>
Runs Measure(const std::vector<std::string>& argv, int runs, Check check) {
  Runs result;
  for (int i = 0; i < runs; ++i) {
    std::string error;
    const process::ChildCost cost = process::RunToEnd(argv, &error);
    if (!error.empty()) Fail(error);
    if (cost.exitCode != 0) {
      std::string command;
      for (const std::string& a : argv) command += (command.empty() ? "" : " ") + a;
      Fail(command + " " + HowItEnded(cost));
    }
    check();
    result.wall.push_back(cost.wallSeconds);
    result.cpu.push_back(cost.cpuSeconds);
    result.peakKilobytes = std::max(result.peakKilobytes, cost.peakKilobytes);
  }
  return result;
}

}  // namespace

double Runs::MedianWall() const { return Median(wall); }

double Runs::MedianCpu() const { return Median(cpu); }

UnpacedFigures MeasureUnpaced(const std::filesystem::path& cli,
                              const std::filesystem::path& firmware, const LineTraffic& program,
                              const LineTraffic& listing, const Options& options) {
  // The instrument runs in this process, so it can confirm every run sent the counted bytes.
  sim::SimulatedInstrument instrument;
  std::string error;
  if (!instrument.Start(&error)) Fail("cannot start the simulated instrument: " + error);
  const auto sameBytes = [&instrument](const LineTraffic& counted) {
    return [&instrument, &counted] {
      const std::size_t received = instrument.Received().size();
      if (received != counted.toInstrument) {
        Fail("a run sent " + std::to_string(received) + " bytes, not the " +
             std::to_string(counted.toInstrument) + " counted");
      }
      instrument.ClearLog();
    };
  };
  instrument.ClearLog();
  UnpacedFigures figures;
  figures.program = Measure(ProgramCommand(cli, instrument.PortPath(), firmware, options.sector),
                            options.runs, sameBytes(program));
  figures.list = Measure(ListCommand(cli, instrument.PortPath()), options.runs, sameBytes(listing));
  return figures;
}

void PrintUnpaced(const UnpacedFigures& figures, const LineTraffic& program,
                  const LineTraffic& listing) {
  const Runs& fast = figures.program;
  const double pauses = std::chrono::duration<double>(program.pauseTime).count();
  std::printf(
      "unpaced  program: median %.3f s, of which pauses %.3f s: the host adds %.1f ms\n"
      "         quorvex-cli CPU %.1f ms (user + system), peak memory %.1f MB\n"
      "         list: median %.1f ms for %zu bytes\n",
      fast.MedianWall(), pauses, (fast.MedianWall() - pauses) * 1e3, fast.MedianCpu() * 1e3,
      static_cast<double>(fast.peakKilobytes) / 1024, figures.list.MedianWall() * 1e3,
      listing.toInstrument + listing.fromInstrument);
}

}  // namespace quorvex::bench
