#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Report.h"
#include "Station.h"

namespace quorvex::cli {

// What `station` shows while it runs, for people or for a script, and how it ends.
class StationOutput : public station::Report {
 public:
  // The station has ended: the rows give way to the counts and the exit code.
  virtual void Ended(int exit, const station::Counts& counts, double seconds) = 0;
};

// For people. On a terminal that moves the cursor (and without -q): a header with the job's
// name and counts, and one row per slot in the order given, redrawn in place under the log
// lines. Otherwise no rows, and a line on stdout for every unit's verdict. Log lines go to
// stdout, messages and the station's notes to stderr, each starting with the slot's number
// and port. `slots`: the names the slots are shown by, in their order.
std::unique_ptr<StationOutput> MakeStationText(bool quiet, const std::string& job,
                                               const std::vector<std::string>& slots);
// NDJSON events on stdout, one object a line; nothing on stderr.
std::unique_ptr<StationOutput> MakeStationJson(const std::vector<std::string>& slots);

// A slot's row on the terminal, without control characters, never reaching column `columns`
// (where a character makes a terminal wrap). `label` is the slot's number and port, padded to
// the other rows' labels by the caller. The state's words stay longest: a failed unit's cause
// is cut before "— снимите прибор" is; the bar narrows before the percentage goes.
std::string StationRowText(std::string_view label, const station::SlotStatus& status, int percent,
                           std::size_t bytes, std::size_t total, double seconds, bool transferring,
                           std::size_t columns);

// "demo.toml  годных 3  брак 1  всего 4"
std::string StationCountsText(const std::string& job, const station::Counts& counts);

}  // namespace quorvex::cli
