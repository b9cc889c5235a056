#include "SideBySide.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "BaselineHost.h"
#include "BenchCommon.h"
#include "ChildProcess.h"
#include "SectorInf.h"

namespace quorvex::bench {
namespace {

using process::Clock;

// One run of a program (quorvex-cli or the minimal host's), which must end with exit code 0.
RunCost ProgramRun(const std::vector<std::string>& argv) {
  std::string error;
  const process::ChildCost cost = process::RunToEnd(argv, &error);
  if (!error.empty()) Fail(error);
  if (cost.exitCode != 0) Fail(argv[0] + " " + HowItEnded(cost));
  return {cost.wallSeconds, cost.cpuSeconds, cost.voluntarySwitches, cost.involuntarySwitches,
          cost.peakKilobytes};
}

// This thread's own account so far: the minimal host runs in it.
RunCost ThreadUsage() {
  rusage usage{};
#ifdef RUSAGE_THREAD
  ::getrusage(RUSAGE_THREAD, &usage);
#else
  ::getrusage(RUSAGE_SELF, &usage);
#endif
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {0, seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw, usage.ru_nivcsw};
}

// The minimal host's runs, timed from opening the line to the last reply.
template <typename Body>
RunCost BaselineRun(const std::string& line, Body body) {
  const RunCost before = ThreadUsage();
  const auto start = Clock::now();
  {
    BaselineHost host;
    std::string error;
    if (!host.Open(line, &error) || !body(host, &error)) Fail(error);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const RunCost after = ThreadUsage();
  return {wall, after.cpu - before.cpu, after.waits - before.waits,
          after.preempted - before.preempted};
}

RunCost BaselineProgram(const std::string& line, const FileBytes& image, int sector) {
  std::array<std::uint8_t, kFirmwareSize> firmware{};
  std::copy_n(image.begin(), kFirmwareSize, firmware.begin());
  const SectorInf block = DeriveSectorInf(image);
  return BaselineRun(line, [&](BaselineHost& host, std::string* error) {
    return host.Program(firmware, block, sector, error);
  });
}

RunCost BaselineList(const std::string& line) {
  return BaselineRun(line, [](BaselineHost& host, std::string* error) { return host.List(error); });
}

// The median of the rounds' ratios of `runs` to `against`; 0 when there are none.
double RatioOfRounds(const std::vector<RunCost>& runs, const std::vector<RunCost>& against) {
  if (against.empty()) return 0;
  std::vector<double> ratios;
  ratios.reserve(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) ratios.push_back(runs[i].wall / against[i].wall);
  return Median(ratios);
}

template <typename Field>
double MedianOf(const std::vector<RunCost>& runs, Field field) {
  std::vector<double> values;
  values.reserve(runs.size());
  for (const RunCost& r : runs) values.push_back(static_cast<double>(field(r)));
  return Median(values);
}

}  // namespace

double MedianWall(const std::vector<RunCost>& runs) {
  return MedianOf(runs, [](const RunCost& r) { return r.wall; });
}

void SideBySide::AddRound(bool cliFirst, const std::function<RunCost()>& runCli,
                          const std::function<RunCost()>& runBaseline,
                          const std::function<RunCost()>& runProcess) {
  std::vector<std::pair<std::vector<RunCost>*, const std::function<RunCost()>*>> turns{
      {&cli, &runCli}, {&baseline, &runBaseline}};
  if (runProcess) turns.emplace_back(&baselineProcess, &runProcess);
  if (!cliFirst) std::reverse(turns.begin(), turns.end());
  for (const auto& [into, run] : turns) into->push_back((*run)());
}

double SideBySide::MedianRatio() const { return RatioOfRounds(cli, baseline); }

double SideBySide::MedianRatioToProcess() const { return RatioOfRounds(cli, baselineProcess); }

double PacedPair::CliCpuShare() const {
  std::vector<RunCost> runs = programs.cli;
  runs.insert(runs.end(), lists.cli.begin(), lists.cli.end());
  return MedianOf(runs, [](const RunCost& r) { return r.cpu; }) / MedianWall(runs);
}

long PacedPair::CliPeakKilobytes() const {
  long peak = 0;
  for (const SideBySide* runs : {&programs, &lists}) {
    for (const RunCost& r : runs->cli) peak = std::max(peak, r.peakKilobytes);
  }
  return peak;
}

PacedPair MeasureSideBySide(const std::filesystem::path& cli,
                            const std::filesystem::path& minimalHost, const std::string& line,
                            const std::filesystem::path& firmware, const FileBytes& image,
                            const Options& options) {
  PacedPair pair;
  for (int round = 0; round < options.runs; ++round) {
    const bool cliFirst = round % 2 == 0;  // neither always runs on a line just used
    pair.programs.AddRound(
        cliFirst, [&] { return ProgramRun(ProgramCommand(cli, line, firmware, options.sector)); },
        [&] { return BaselineProgram(line, image, options.sector); });
    pair.lists.AddRound(
        cliFirst, [&] { return ProgramRun(ListCommand(cli, line)); },
        [&] { return BaselineList(line); },
        [&] {
          return ProgramRun({minimalHost.string(), line, "list"});
        });
  }
  return pair;
}

void PrintSideBySide(const char* what, const SideBySide& runs, double limit, double target) {
  const double ratio = runs.MedianRatio();
  const auto cpu = [](const RunCost& r) { return r.cpu * 1e3; };
  const auto waits = [](const RunCost& r) { return r.waits; };
  const auto preempted = [](const RunCost& r) { return r.preempted; };
  std::printf(
      "         %-8s quorvex-cli median %.3f s, minimal host %.3f s, limit %.3f s\n"
      "                  against the line: quorvex-cli %.3f, minimal host %.3f\n"
      "                  against the minimal host, round by round: %.4f (target <= %.2f: %s)\n"
      "                  a run: CPU %.1f ms against %.1f ms, waits %.0f against %.0f,"
      " put aside %.0f against %.0f\n",
      what, MedianWall(runs.cli), MedianWall(runs.baseline), limit, MedianWall(runs.cli) / limit,
      MedianWall(runs.baseline) / limit, ratio, target, Verdict(ratio <= target),
      MedianOf(runs.cli, cpu), MedianOf(runs.baseline, cpu), MedianOf(runs.cli, waits),
      MedianOf(runs.baseline, waits), MedianOf(runs.cli, preempted),
      MedianOf(runs.baseline, preempted));
  if (runs.baselineProcess.empty()) return;
  // What being a process costs the minimal host: started, run and reaped, against the same
  // exchange inside the bench, round by round.
  std::vector<double> startCost;
  startCost.reserve(runs.baselineProcess.size());
  for (std::size_t i = 0; i < runs.baselineProcess.size(); ++i) {
    startCost.push_back(runs.baselineProcess[i].wall - runs.baseline[i].wall);
  }
  std::printf(
      "                  the minimal host as a process of its own: median %.3f s, CPU %.1f ms,\n"
      "                  %.1f ms a run more than inside the bench (its start and end);\n"
      "                  quorvex-cli against it, round by round: %.4f\n",
      MedianWall(runs.baselineProcess), MedianOf(runs.baselineProcess, cpu),
      Median(startCost) * 1e3, runs.MedianRatioToProcess());
}

}  // namespace quorvex::bench
