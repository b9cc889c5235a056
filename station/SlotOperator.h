#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Operator.h"
#include "Report.h"

namespace quorvex::station {

// The operator of one unit's run on a slot: passes what the device code reports to the
// station's report under the slot's number, answers the overwrite question from the job,
// turns the station's stop into a stop of the run (and into Cancel during the transfer), and
// keeps the unit's log and its last message for the record.
class SlotOperator final : public Operator {
 public:
  SlotOperator(Report& report, int slot, bool overwrite, const std::atomic<bool>& stop);

  void Log(std::string_view line) override;
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void PlainMessage(std::string_view text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override;
  std::string SectorText() override { return std::to_string(sector_); }
  void Beep() override {}  // a station's verdict is its tile and its hook, not a beep
  bool StopAsked() override { return stop_.load(); }

  // The sector the next run programs.
  void SetSector(int sector) { sector_ = sector; }
  // The flag the station's stop sets, as the Cancel button would.
  void SetStopFlag(std::uint8_t* stopRequested) { stopRequested_ = stopRequested; }

  [[nodiscard]] const std::vector<std::string>& LogLines() const { return log_; }
  // "CAPTION: TEXT" (first line) of the last message, else the last log line.
  [[nodiscard]] std::string LastReport() const;

 private:
  Report& report_;
  int slot_;
  bool overwrite_;
  const std::atomic<bool>& stop_;
  int sector_ = 0;
  std::uint8_t* stopRequested_ = nullptr;
  enum class Transfer { Idle, Running, Ended };
  Transfer transfer_ = Transfer::Idle;
  bool stopSeen_ = false;
  bool blockSent_ = false;  // a block went out since the bar was last set
  int position_ = 0;
  std::size_t blocks_ = 0;
  std::vector<std::string> log_;
  std::string lastMessage_;
};

}  // namespace quorvex::station
