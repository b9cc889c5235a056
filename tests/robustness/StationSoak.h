#pragma once

#include <string>

// The station's soak: the engine in this process with four slots of simulated units coming and
// going (quorvex-sim processes, unpaced), each slot with a fault of its own, for hundreds of
// units. Every unit must be
// recorded once, with the verdict its slot gives, no unit on a slot programmed twice, and the
// process's descriptors, threads and resident memory the same at the last unit as at the
// hundredth.

namespace quorvex::soak {

// Units the soak runs at least: the first hundred settle, the rest are watched.
inline constexpr int kStationSoakLeast = 200;

// Runs the station until `units` units have ended, with `simulator` (quorvex-sim) for the
// slots; 0 when everything held, else 1.
int StationSoak(int units, const std::string& simulator);

}  // namespace quorvex::soak
