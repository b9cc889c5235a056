#pragma once

#include "Device.h"
#include "Operator.h"

namespace quorvex {

// Each sequence asks the operator whether to stop before every request it sends (and between
// the sectors of a listing); a stop logs "Стоп" and ends the sequence with Stopped.
enum class RunResult {
  Done,       // programmed and confirmed by the instrument's checksum
  Failed,     // a step failed and has told the operator
  BadSector,  // the sector field was empty, out of range or not a number
  Declined,   // the operator did not want a written sector overwritten
  Stopped,    // the operator stopped the run
};

// The programming run from the device check to the beep. The caller disables and enables
// its own controls around it.
RunResult RunProgramming(Device& device, Operator& op);

// Clears the information block of the sector in the sector field (64 zero bytes).
RunResult ClearSector(Device& device, Operator& op);

// The device check alone: the loader answers with its version.
RunResult CheckLoader(Device& device, Operator& op);

// Lists the information blocks of all 64 sectors, one log line each.
RunResult ListSectors(Device& device, Operator& op);

}  // namespace quorvex
