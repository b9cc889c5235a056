#pragma once

namespace quorvex {

// A program started with standard input, output or error closed (by a scheduler, a service
// manager, `>&-`) would give that number to the next file it opens: a serial port opened as
// descriptor 1 would receive every line meant for stdout. Each closed one of the three is
// opened on the null device here, before the program opens anything else. Nothing to do on
// Windows, where a handle never takes a standard stream's place.
void KeepStandardDescriptorsTaken();

}  // namespace quorvex
