#include "StationRuns.h"

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "BenchCommon.h"
#include "BusyLoops.h"
#include "ChildProcess.h"
#include "PacedInstruments.h"
#include "ParallelRuns.h"

namespace quorvex::bench {
namespace {

namespace fs = std::filesystem;
using process::Clock;

// Units programmed on each slot in a station's turn: the first is there when the station
// starts, the second comes while it runs, and is found by its probes.
constexpr int kUnitsPerSlot = 2;
// The request a probe sends and the programming starts with.
constexpr const char* kDeviceCheck = "02";
// Empty slots are measured once the station has started: opened its ports, begun probing.
constexpr auto kIdleSettle = std::chrono::seconds(2);
// A station of eight slots: each unit within 2 % of a single run beside it, found within a
// second of coming; the slots waiting with no unit take under 1 % of one core.
constexpr int kStationSlots = 8;
constexpr double kStationTarget = 1.02;
constexpr double kFoundSecondsTarget = 1.0;
constexpr double kIdleCpuTarget = 0.01;
constexpr std::chrono::seconds kIdleWall{20};
constexpr std::chrono::seconds kUnpluggedWall{10};
// A unit stays for its run and some slack, then is away for two seconds, long enough for its
// slot to see it gone (two probes unanswered) before the next one comes.
constexpr double kUnitSlackSeconds = 3.0;
constexpr std::chrono::milliseconds kUnitAbsent{2000};

// quorvex-cli programming `units` units from `job` on the lines, each record a `unit` event.
std::vector<std::string> StationCommand(const fs::path& cli, const fs::path& job, int units,
                                        const std::vector<std::string>& lines) {
  std::vector<std::string> argv{cli.string(), "--json"};
  for (const std::string& line : lines) argv.insert(argv.end(), {"-p", line});
  argv.insert(argv.end(), {"station", job.string(), "--units", std::to_string(units)});
  return argv;
}

// The sector seconds of every unit a station's turn programmed.
std::vector<double> RunStation(const fs::path& cli, const fs::path& job,
                               const std::vector<std::string>& lines, std::chrono::seconds limit) {
  const int units = static_cast<int>(lines.size()) * kUnitsPerSlot;
  process::ChildProcess child;
  std::string error;
  if (!child.Start(StationCommand(cli, job, units, lines), {}, true, &error)) Fail(error);
  std::vector<double> seconds;
  const auto deadline = Clock::now() + limit;
  while (const auto text = child.ReadLine(deadline)) {
    const auto event = nlohmann::json::parse(*text, nullptr, false);
    if (!event.is_object() || event.value("event", "") != "unit") continue;
    const auto& sectors = event["sectors"];
    if (event.value("exit", -1) != 0 || !sectors.is_array() || sectors.size() != 1) {
      Fail("unit " + std::to_string(event.value("unit", 0)) + " on " + event.value("port", "") +
           " did not pass: " + event.dump());
    }
    seconds.push_back(sectors[0].value("seconds", 0.0));
  }
  // Its stdout closes as it ends.
  const std::optional<process::ChildCost> cost =
      child.WaitUntil(std::max(deadline, Clock::now() + std::chrono::seconds(10)));
  if (!cost) {
    child.Stop(SIGKILL);
    Fail("quorvex-cli station did not program its units in time");
  }
  if (cost->exitCode != 0 || static_cast<int>(seconds.size()) != units) {
    Fail("quorvex-cli station " + HowItEnded(*cost) + " after " + std::to_string(seconds.size()) +
         " of " + std::to_string(units) + " units");
  }
  return seconds;
}

// From a simulator's --record: for each unit that came after the first, the seconds from its
// coming to the device check that follows the probe that found it (its second device check).
std::vector<double> FoundAfter(const fs::path& record) {
  std::ifstream in(record);
  std::map<int, std::vector<double>> checks;  // unit: its device checks, seconds after it came
  for (std::string line; std::getline(in, line);) {
    int unit = 0;
    double ms = 0;
    char request[64] = {};
    if (std::sscanf(line.c_str(), "unit %d at %lf ms: %63[^\n]", &unit, &ms, request) != 3) {
      Fail("cannot read '" + line + "' in " + record.string());
    }
    if (std::string(request) == kDeviceCheck) checks[unit].push_back(ms / 1e3);
  }
  std::vector<double> found;
  for (const auto& [unit, times] : checks) {
    if (unit >= 2 && times.size() >= 2) found.push_back(times[1]);
  }
  return found;
}

// The CPU time so far of every thread of a process, from the scheduler's own account
// (nanoseconds, where the kernel's user and system times count in ticks of 10 ms).
double ThreadsCpuSeconds(pid_t pid) {
  const fs::path tasks = fs::path("/proc") / std::to_string(pid) / "task";
  std::error_code error;
  double seconds = 0;
  bool read = false;
  for (const auto& task : fs::directory_iterator(tasks, error)) {
    std::ifstream in(task.path() / "schedstat");
    unsigned long long nanoseconds = 0;
    if (in >> nanoseconds) {
      seconds += static_cast<double>(nanoseconds) / 1e9;
      read = true;
    }
  }
  if (!read) Fail("cannot read the CPU time of the threads of process " + std::to_string(pid));
  return seconds;
}

// A station on `lines` that never brings a unit: its share of one core once settled and over
// its whole life.
IdleFigures WaitingCpu(const fs::path& cli, const fs::path& job,
                       const std::vector<std::string>& lines, std::chrono::seconds wall) {
  process::ChildProcess child;
  std::string error;
  if (!child.Start(StationCommand(cli, job, 1, lines), {}, false, &error)) Fail(error);
  std::this_thread::sleep_for(kIdleSettle);
  const double cpuBefore = ThreadsCpuSeconds(child.Pid());
  const auto before = Clock::now();
  std::this_thread::sleep_for(wall);
  const double cpuAfter = ThreadsCpuSeconds(child.Pid());
  const double settledWall = std::chrono::duration<double>(Clock::now() - before).count();
  const process::ChildCost cost = child.Stop(SIGTERM);
  // Stopped with no unit cut short: exit 0.
  if (cost.exitCode != 0) Fail("quorvex-cli station with no units " + HowItEnded(cost));
  return {(cpuAfter - cpuBefore) / settledWall, cost.cpuSeconds / cost.wallSeconds};
}

fs::path WriteStationJob(const fs::path& folder, const fs::path& firmware, int sector) {
  fs::path job = folder / "station.toml";
  std::ofstream out(job, std::ios::trunc);
  out << "[[sector]]\nnumber = " << sector << "\nfile = \"" << firmware.filename().string()
      << "\"\n\n[station]\noverwrite = true\n";
  out.close();
  if (!out) Fail("cannot write " + job.string());
  return job;
}

StationFigures MeasureStation(const fs::path& cli, const fs::path& simulator,
                              const fs::path& folder, const fs::path& firmware, int slots,
                              std::chrono::milliseconds present, std::chrono::milliseconds absent,
                              const Options& options) {
  const fs::path job = WriteStationJob(folder, firmware, options.sector);
  PacedInstruments alone(simulator);
  const std::string single = alone.Start(folder / "single");
  const std::string comeAndGo =
      std::to_string(present.count()) + "," + std::to_string(absent.count());
  // The second unit comes after a present and an absent period, and takes a run.
  const auto limit = std::chrono::duration_cast<std::chrono::seconds>(2 * present + absent) +
                     std::chrono::seconds(30);

  StationFigures figures;
  std::vector<double> ratios;
  std::vector<double> units;
  std::vector<double> singles;
  for (int round = 0; round < options.runs; ++round) {
    const auto stationTurn = [&] {
      PacedInstruments slotUnits(simulator);
      std::vector<std::string> lines;
      std::vector<fs::path> records;
      for (int slot = 1; slot <= slots; ++slot) {
        const std::string name = "slot" + std::to_string(slot);
        records.push_back(folder / (name + ".record"));
        lines.push_back(slotUnits.Start(
            folder / name, {"--come-and-go", comeAndGo, "--record", records.back().string()}));
      }
      const std::vector<double> seconds = RunStation(cli, job, lines, limit);
      slotUnits.StopAll();
      for (const fs::path& record : records) {
        const std::vector<double> found = FoundAfter(record);
        figures.found.insert(figures.found.end(), found.begin(), found.end());
      }
      units.insert(units.end(), seconds.begin(), seconds.end());
      return *std::max_element(seconds.begin(), seconds.end());
    };
    const auto singleTurn = [&] {
      const double seconds = RunJson(cli, {single}, firmware, options.sector).seconds.front();
      singles.push_back(seconds);
      return seconds;
    };
    // Turn about, so that the order favours neither.
    double slowest = 0;
    double one = 0;
    if (round % 2 == 0) {
      slowest = stationTurn();
      one = singleTurn();
    } else {
      one = singleTurn();
      slowest = stationTurn();
    }
    ratios.push_back(slowest / one);
  }
  alone.StopAll();
  figures.ratio = Median(ratios);
  figures.worst = *std::max_element(ratios.begin(), ratios.end());
  figures.units = static_cast<int>(units.size());
  figures.unitSeconds = Median(units);
  figures.singleSeconds = Median(singles);
  return figures;
}

IdleFigures MeasureIdleStation(const fs::path& cli, const fs::path& simulator,
                               const fs::path& folder, const fs::path& job, int slots,
                               std::chrono::seconds wall) {
  PacedInstruments silent(simulator);
  std::vector<std::string> lines;
  for (int slot = 1; slot <= slots; ++slot) {
    lines.push_back(silent.Start(folder / ("empty" + std::to_string(slot)), {"--fault", "silent"}));
  }
  return WaitingCpu(cli, job, lines, wall);
}

IdleFigures MeasureStationWithoutPorts(const fs::path& cli, const fs::path& folder,
                                       const fs::path& job, int slots, std::chrono::seconds wall) {
  std::vector<std::string> lines;
  for (int slot = 1; slot <= slots; ++slot) {
    lines.push_back((folder / ("unplugged" + std::to_string(slot))).string());
  }
  return WaitingCpu(cli, job, lines, wall);
}

void PrintStation(int slots, const StationFigures& figures) {
  std::vector<double> found = figures.found;
  std::printf(
      "station  %d slots of units coming and going, quorvex-cli station in turns with a single "
      "run:\n"
      "         %d units, a unit's sector median %.3f s, the single run %.3f s\n"
      "         the slowest unit against the single run, median of the rounds %.4f, worst round "
      "%.4f (target <= %.2f: %s)\n"
      "         a unit found after it came: median %.3f s, worst %.3f s of %zu units (target < "
      "%.1f s: %s)\n",
      slots, figures.units, figures.unitSeconds, figures.singleSeconds, figures.ratio,
      figures.worst, kStationTarget, Verdict(figures.ratio <= kStationTarget),
      found.empty() ? 0.0 : Median(found), figures.FoundWorst(), found.size(), kFoundSecondsTarget,
      Verdict(!found.empty() && figures.FoundWorst() < kFoundSecondsTarget));
}

}  // namespace

bool HasStationCommand(const fs::path& cli) {
  // The station command is one of the subcommands its help lists: "  station   ...".
  process::ChildProcess help;
  std::string error;
  bool listed = false;
  if (help.Start({cli.string(), "--help"}, {}, true, &error)) {
    while (const auto line = help.ReadLine(Clock::now() + std::chrono::seconds(10))) {
      listed = listed || line->starts_with("  station ");
    }
    help.Wait();
  }
  return listed;
}

double StationFigures::FoundWorst() const {
  return found.empty() ? 0 : *std::max_element(found.begin(), found.end());
}

StationPart MeasureStationPart(const fs::path& cli, const fs::path& simulator,
                               const fs::path& folder, const fs::path& firmware, double lineSeconds,
                               const Options& options) {
  const std::chrono::milliseconds present(std::lround((lineSeconds + kUnitSlackSeconds) * 1e3));
  StationPart part;
  part.quiet = MeasureStation(cli, simulator, folder, firmware, kStationSlots, present, kUnitAbsent,
                              options);
  PrintStation(kStationSlots, part.quiet);
  if (options.busy > 0) {
    const BusyLoops loops(options.busy);
    part.busy = MeasureStation(cli, simulator, folder, firmware, kStationSlots, present,
                               kUnitAbsent, options);
    std::printf("station  with %d busy loops beside both (load average %s at the end):\n",
                loops.Count(), LoadAverage().c_str());
  }
  if (part.busy) PrintStation(kStationSlots, *part.busy);
  const fs::path job = WriteStationJob(folder, firmware, options.sector);
  part.idle = MeasureIdleStation(cli, simulator, folder, job, kStationSlots, kIdleWall);
  std::printf(
      "station  %d empty slots probing for %lld s: %.3f %% of one core (target < %.0f %%: %s);\n"
      "         %.3f %% over the station's whole life, its start included\n",
      kStationSlots, static_cast<long long>(kIdleWall.count()), part.idle.probing * 100,
      kIdleCpuTarget * 100, Verdict(part.idle.probing < kIdleCpuTarget), part.idle.whole * 100);
  part.unplugged = MeasureStationWithoutPorts(cli, folder, job, kStationSlots, kUnpluggedWall);
  std::printf(
      "station  %d slots with no port, looked for over %lld s: %.3f %% of one core (no target)\n",
      kStationSlots, static_cast<long long>(kUnpluggedWall.count()), part.unplugged.probing * 100);
  return part;
}

void PrintStationLines(const StationPart& part, const Options& options) {
  std::printf("station%d=%.4f\n", kStationSlots, part.quiet.ratio);
  std::printf("station-detect=%.2f s\n", part.quiet.FoundWorst());
  if (part.busy) {
    std::printf("busy%d station%d=%.4f\n", options.busy, kStationSlots, part.busy->ratio);
    std::printf("busy%d station-detect=%.2f s\n", options.busy, part.busy->FoundWorst());
  }
  std::printf("station-idle-cpu=%.2f %%\n", part.idle.probing * 100);
}

}  // namespace quorvex::bench
