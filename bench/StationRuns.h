#pragma once

// A station of paced simulated units coming and going, in turns with a single quorvex-cli run
// on a paced instrument of its own: how much longer each unit's programming takes than the
// single run, how soon a unit is found once it is put on its slot, and what slots waiting for
// units cost the station's process.
#include <filesystem>
#include <optional>
#include <vector>

#include "Options.h"

namespace quorvex::bench {

// Whether this quorvex-cli has the station command (a build given with --bin may be older).
bool HasStationCommand(const std::filesystem::path& cli);

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

// The share of one core the station's process takes while no unit comes: over 20 s once it has
// started, from the CPU time of its threads; and over its whole life, its start included.
struct IdleFigures {
  double probing = 0;
  double whole = 0;
};

// Every figure of a station of eight slots: its units against a single run on the machine as
// it is and, with options.busy, with busy loops beside both; its CPU with eight empty slots
// (paced simulators that never answer); its CPU while the slots' ports are not there. Each is
// printed as it is measured. `lineSeconds`: the least time of a programming run on the line; a
// unit stays that long and 3 s more.
struct StationPart {
  StationFigures quiet;
  std::optional<StationFigures> busy;
  IdleFigures idle;
  IdleFigures unplugged;
};

StationPart MeasureStationPart(const std::filesystem::path& cli,
                               const std::filesystem::path& simulator,
                               const std::filesystem::path& folder,
                               const std::filesystem::path& firmware, double lineSeconds,
                               const Options& options);

// The last lines: station8=, station-detect=, with busy loops the same, station-idle-cpu=.
void PrintStationLines(const StationPart& part, const Options& options);

}  // namespace quorvex::bench
