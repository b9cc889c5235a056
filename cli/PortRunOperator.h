#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Operator.h"
#include "Output.h"

namespace quorvex::cli {

// The operator of one port's run of the command line, for text and --json alike: passes
// what the device code reports to the process's Output under the port's name, answers the
// overwrite question, turns Ctrl-C into a stop of the run (and into the Cancel button during
// the transfer), and keeps the run's log lines and last message for its summary and audit
// record.
class PortRunOperator final : public Operator {
 public:
  PortRunOperator(Output& output, std::string port, bool yes);

  void Log(std::string_view line) override;
  void SectorListed(int sector, bool loaded, const std::string& name) override;
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void PlainMessage(std::string_view text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override;
  std::string SectorText() override { return sectorText_; }
  void Beep() override;
  bool StopAsked() override;

  void SetSectorText(std::string text) { sectorText_ = std::move(text); }
  // The flag a Ctrl-C sets, as the Cancel button would.
  void SetStopFlag(std::uint8_t* stopRequested) { stopRequested_ = stopRequested; }

  [[nodiscard]] const std::string& Port() const { return port_; }
  [[nodiscard]] const std::vector<std::string>& LogLines() const { return log_; }
  // "CAPTION: TEXT" (first line) of the last message, else the last log line.
  [[nodiscard]] std::string LastReport() const;

 private:
  Output& output_;
  std::string port_;
  bool yes_;
  std::string sectorText_;
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

}  // namespace quorvex::cli
