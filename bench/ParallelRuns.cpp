#include "ParallelRuns.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "BenchCommon.h"
#include "ChildProcess.h"

namespace quorvex::bench {

namespace fs = std::filesystem;
using process::Clock;

JsonRun RunJson(const fs::path& cli, const std::vector<std::string>& lines,
                const fs::path& firmware, int sector) {
  std::vector<std::string> argv{cli.string(), "--json", "-y"};
  for (const std::string& line : lines) argv.insert(argv.end(), {"-p", line});
  argv.insert(argv.end(), {"program", firmware.string(), "-s", std::to_string(sector)});
  process::ChildProcess child;
  std::string error;
  if (!child.Start({argv, {}, process::Redirect::Pipe(), {}, {}}, &error)) Fail(error);
  JsonRun run;
  while (const auto text = child.ReadLine(Clock::now() + std::chrono::seconds(120))) {
    const auto event = nlohmann::json::parse(*text, nullptr, false);
    if (event.is_object() && event.value("event", "") == "result") {
      if (event.value("exit", -1) != 0) Fail("a run of " + event.value("port", "") + " failed");
      run.seconds.push_back(event.value("seconds", 0.0));
    }
  }
  const process::ChildCost cost = child.Wait();
  if (cost.exitCode != 0 || run.seconds.size() != lines.size()) {
    Fail("quorvex-cli --json program " + HowItEnded(cost));
  }
  run.cpuSeconds = cost.cpuSeconds;
  return run;
}

ParallelFigures MeasureParallel(const fs::path& cli, const std::vector<std::string>& lines,
                                const fs::path& firmware, const Options& options) {
  const auto ports = static_cast<double>(lines.size());
  std::vector<double> ratios;
  std::vector<double> together;
  std::vector<double> alone;
  for (int round = 0; round < options.runs; ++round) {
    const auto runTogether = [&] {
      const JsonRun run = RunJson(cli, lines, firmware, options.sector);
      together.push_back(run.cpuSeconds / ports);
      return *std::max_element(run.seconds.begin(), run.seconds.end());
    };
    const auto runAlone = [&] {
      const JsonRun run = RunJson(cli, {lines.front()}, firmware, options.sector);
      alone.push_back(run.cpuSeconds);
      return run.seconds.front();
    };
    // Turn about, so that the order favours neither.
    if (round % 2 == 0) {
      const double slowest = runTogether();
      ratios.push_back(slowest / runAlone());
    } else {
      const double single = runAlone();
      ratios.push_back(runTogether() / single);
    }
  }
  return {Median(ratios), Median(together), Median(alone)};
}

void PrintParallel(int ports, const ParallelFigures& figures, double target) {
  std::printf(
      "parallel %d instruments at once: the slowest run against a single run beside it %.4f "
      "(target <= %.2f: %s)\n"
      "         quorvex-cli CPU per instrument %.1f ms at once, %.1f ms alone\n",
      ports, figures.ratio, target, Verdict(figures.ratio <= target), figures.cpuTogether * 1e3,
      figures.cpuAlone * 1e3);
}

}  // namespace quorvex::bench
