#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RunRecordJson.h"

namespace quorvex::station {

// Where a slot is in its round: waiting for a unit, programming one, showing its verdict
// until it is taken away.
enum class SlotState { Waiting, Programming, Passed, Failed, Removed };

// "waiting", "programming", "passed", "failed", "removed": the names of the --json events.
const char* SlotStateName(SlotState state);

// What a slot shows right now.
struct SlotStatus {
  int slot = 0;      // its place in the list, from 1
  std::string port;  // the name it is shown by
  SlotState state = SlotState::Waiting;
  int unit = 0;         // the unit on it (programming or verdict); 0 when none
  int sector = 0;       // programming: the sector being programmed
  int sectorIndex = 0;  // programming: its place in the job, from 1
  int sectors = 0;      // the job's count of sectors
  int exit = 0;         // verdict: the unit's exit code
  std::string cause;    // failed: what ended the unit (a message, or the last log line)
};

// One sector a unit's run attempted.
struct SectorRecord {
  int sector = 0;
  std::string file;  // absolute
  std::optional<std::string> sha256;
  std::optional<std::string> name;
  int exit = 0;
  double seconds = 0;
};

// The record of a unit, written once when it has ended.
struct UnitRecord {
  std::string job;  // absolute
  int slot = 0;
  std::string port;
  std::optional<std::string> usbSerial;
  int unit = 0;       // the station's running count, from 1
  int exit = 0;       // 0 passed, 1 failed, 3 stopped, 4 declined
  std::string ended;  // "ok", or what ended it
  double seconds = 0;
  std::vector<SectorRecord> sectors;
  std::vector<std::string> log;
};

// The unit's record as its audit line and its --json event carry it: time, host, user,
// command "station", job, slot, port, usb_serial, unit, exit, seconds, sectors, log.
json UnitJson(const UnitRecord& record);

// Whoever shows a station: the terminal, a script reading JSON, the station window. Called
// from the slots' own threads, several at once: every method must be safe for that, and
// quick, since a slot waits for it.
class Report {
 public:
  virtual ~Report() = default;
  // A slot's state or what it shows has changed.
  virtual void SlotChanged(const SlotStatus& status) = 0;
  // A log line of the unit on the slot, the device code's own words.
  virtual void SlotLog(int slot, std::string_view line) = 0;
  // A message box of the device code for the unit on the slot; nobody has to answer it.
  virtual void SlotMessage(int slot, std::string_view caption, std::string_view text) = 0;
  // The image transfer of the slot's current sector: `bytes` of `total` sent.
  virtual void SlotProgress(int slot, int percent, std::size_t bytes, std::size_t total,
                            bool end) = 0;
  // The station's own remark about a slot (its port is held by another program, the hook
  // failed, the audit record could not be written), not words of the device code.
  virtual void SlotNote(int slot, std::string_view text) = 0;
  // A unit has ended and its record been written (before the hook runs). `line` is the record
  // as UnitJson gives it.
  virtual void UnitEnded(const UnitRecord& record, const json& line) = 0;
};

}  // namespace quorvex::station
