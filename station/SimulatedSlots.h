#pragma once

#include <chrono>
#include <cstddef>

namespace quorvex::station {

// A station on simulated units (--simulate of quorvex-cli station and of quorvex-station):
// how many slots when nothing names any, and how long units stay and slots stay empty.

// Simulated slots when neither the job nor the command line names any.
inline constexpr int kSimulatedSlots = 4;

// A simulated unit stays on its slot long enough for the job's sectors at the line's pace,
// plus a while to show its verdict.
inline std::chrono::milliseconds SimulatedUnitPresent(std::size_t sectors) {
  constexpr std::chrono::milliseconds kPacedSector{14'000};
  constexpr std::chrono::milliseconds kVerdictShown{3'000};
  return kPacedSector * static_cast<int>(sectors) + kVerdictShown;
}

// Then its slot is empty for a while, each slot (from 0) a little longer than the one before,
// so that the slots drift apart as a line's do.
inline std::chrono::milliseconds SimulatedSlotEmpty(std::size_t slot) {
  constexpr std::chrono::milliseconds kEmptySlot{2'000};
  constexpr std::chrono::milliseconds kEmptySlotStep{800};
  return kEmptySlot + kEmptySlotStep * static_cast<int>(slot);
}

}  // namespace quorvex::station
