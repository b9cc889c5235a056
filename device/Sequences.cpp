#include "Sequences.h"

#include <optional>
#include <string>

#include "SectorInf.h"
#include "SectorNumber.h"
#include "Texts.h"

namespace quorvex {
namespace {

// A stop asked for is honoured before the next request goes out: "Стоп" is logged and
// nothing more is sent. Before the information block is written that leaves the instrument
// untouched.
bool Stopping(Operator& op) {
  if (!op.StopAsked()) return false;
  op.Log(text::kLogStop);
  return true;
}

}  // namespace

RunResult RunProgramming(Device& device, Operator& op) {
  if (Stopping(op)) return RunResult::Stopped;
  if (device.CheckDevice()) return RunResult::Failed;
  const std::optional<int> sector = CheckSectorNumber(op, op.SectorText());
  if (!sector) return RunResult::BadSector;
  const auto n = static_cast<std::uint8_t>(*sector);

  op.Log(text::kLogReadingFile);
  if (device.ReadFile()) return RunResult::Failed;
  op.Log(text::kLogOk);

  if (Stopping(op)) return RunResult::Stopped;
  op.Log(text::kLogReadingSector);
  SectorInf current{};
  if (device.ReadSectorInf(n, current) != 0) return RunResult::Failed;
  if (IsWritten(current) && op.MessageBox(text::kOverwrite, text::kCaptionProgramSector,
                                          kMbYesNo | kMbIconError) != kIdYes) {
    // A stop asked while the question was open (Ctrl-C at the prompt) is a stop, not a No.
    return Stopping(op) ? RunResult::Stopped : RunResult::Declined;
  }
  op.Log(text::kLogOk);

  if (Stopping(op)) return RunResult::Stopped;
  if (device.WriteSectorInf(n, DeriveSectorInf(device.Image)) != 0) return RunResult::Failed;

  if (Stopping(op)) return RunResult::Stopped;
  op.Log(text::kLogErasing);
  if (device.Erase()) return RunResult::Failed;
  op.Log(text::kLogOk);
  if (Stopping(op)) return RunResult::Stopped;
  if (device.Init()) return RunResult::Failed;

  if (Stopping(op)) return RunResult::Stopped;
  op.Log(text::kLogProgramming);
  if (device.Program()) return device.Stopped() ? RunResult::Stopped : RunResult::Failed;
  op.Log(text::kLogOk);
  op.Beep();
  return RunResult::Done;
}

RunResult ClearSector(Device& device, Operator& op) {
  if (Stopping(op)) return RunResult::Stopped;
  if (device.CheckDevice()) return RunResult::Failed;
  const std::optional<int> sector = CheckSectorNumber(op, op.SectorText());
  if (!sector) return RunResult::BadSector;
  if (Stopping(op)) return RunResult::Stopped;
  op.Log(text::kLogClearing);
  if (device.WriteSectorInf(static_cast<std::uint8_t>(*sector), SectorInf{}) != 0) {
    return RunResult::Failed;
  }
  op.Log(text::kLogOk);
  return RunResult::Done;
}

RunResult CheckLoader(Device& device, Operator& op) {
  if (Stopping(op)) return RunResult::Stopped;
  return device.CheckDevice() ? RunResult::Failed : RunResult::Done;
}

RunResult ListSectors(Device& device, Operator& op) {
  if (Stopping(op)) return RunResult::Stopped;
  if (device.CheckDevice()) return RunResult::Failed;
  for (int n = kFirstSector; n <= kLastSector; ++n) {
    if (Stopping(op)) return RunResult::Stopped;
    SectorInf block{};
    if (device.ReadSectorInf(static_cast<std::uint8_t>(n), block) != 0) {
      op.MessageBox(text::kSectorInfoFailure, text::kCaptionRead, kMbOk | kMbIconError);
      op.Log(text::kLogBlockReadFailed);
      return RunResult::Failed;
    }
    const bool loaded = IsLoaded(block);
    const std::string name = loaded ? SectorName(block) : std::string();
    std::string line = text::kSectorLinePrefix + std::to_string(n);
    line += loaded ? " - " + name : std::string(text::kNotLoaded);
    op.Log(line);
    op.SectorListed(n, loaded, name);
  }
  return RunResult::Done;
}

}  // namespace quorvex
