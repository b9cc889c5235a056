#pragma once

// A station of paced simulated units coming and going, in turns with a single quorvex-cli run
// on a paced instrument of its own: how much longer each unit's programming takes than the
// single run, how soon a unit is found once it is put on its slot, and what slots waiting for
// units cost the station's process.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "Options.h"

namespace quorvex::bench {

// The program that runs the station: quorvex-cli station when the build has it, else the
// engine as a program of its own (quorvex-station-host, built with the benchmark).
struct StationProgram {
  std::filesystem::path path;
  bool cli = false;

  // The command that programs `units` units from `job` on the lines, each record a `unit`
  // event on stdout.
  [[nodiscard]] std::vector<std::string> Command(const std::filesystem::path& job, int units,
                                                 const std::vector<std::string>& lines) const;
  [[nodiscard]] std::string Name() const;
};

StationProgram FindStationProgram(const std::filesystem::path& cli,
                                  const std::filesystem::path& ownDir);

// A job of one sector, `firmware` into `sector`, in `folder`; its path.
std::filesystem::path WriteStationJob(const std::filesystem::path& folder,
                                      const std::filesystem::path& firmware, int sector);

struct StationFigures {
  double ratio = 0;  // the median over the rounds of the slowest unit against the single run
  double worst = 0;  // the slowest unit of any round against that round's single run
  int units = 0;
  double unitSeconds = 0;    // a unit's sector, median
  double singleSeconds = 0;  // the single run, median
  // Seconds from each unit's coming to its device check, for the units that came while the
  // station was running (the first unit of each slot is there before the station starts).
  std::vector<double> found;

  [[nodiscard]] double FoundWorst() const;
};

// options.runs rounds. A round's station turn starts `slots` paced simulators whose units stay
// for `present` and are away for `absent`, and a station that programs two units on each slot;
// its other turn is one quorvex-cli program on a paced instrument of its own. Every unit and
// run must pass, or Fail.
StationFigures MeasureStation(const StationProgram& station, const std::filesystem::path& cli,
                              const std::filesystem::path& simulator,
                              const std::filesystem::path& folder,
                              const std::filesystem::path& firmware, int slots,
                              std::chrono::milliseconds present, std::chrono::milliseconds absent,
                              const Options& options);

// The share of one core the station's process takes with `slots` paced simulators that never
// answer: every slot waiting for a unit, probing. Over `wall` once it has settled, from the
// CPU time of its threads; and over its whole life, its start included.
struct IdleFigures {
  double probing = 0;
  double whole = 0;
};

IdleFigures MeasureIdleStation(const StationProgram& station,
                               const std::filesystem::path& simulator,
                               const std::filesystem::path& folder,
                               const std::filesystem::path& job, int slots,
                               std::chrono::seconds wall);

// The same with `slots` ports that are not there (adapters not plugged in), which the station
// looks for again and again.
IdleFigures MeasureStationWithoutPorts(const StationProgram& station,
                                       const std::filesystem::path& folder,
                                       const std::filesystem::path& job, int slots,
                                       std::chrono::seconds wall);

void PrintStation(int slots, const StationProgram& station, const StationFigures& figures,
                  double target, double foundTarget);

}  // namespace quorvex::bench
