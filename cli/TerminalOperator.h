#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "Operator.h"
#include "ProgressBar.h"

namespace quorvex::cli {

enum class Answer { Ask, Yes };

// The operator on a terminal: log lines to stdout exactly as the window's log shows them,
// message boxes to stderr as "CAPTION: TEXT", the progress bar on stderr when it is a
// terminal, and Ctrl-C as the Cancel button.
class TerminalOperator final : public Operator {
 public:
  TerminalOperator(bool quiet, Answer answer);

  void Log(std::string_view line) override;
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void PlainMessage(std::string_view text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override;
  std::string SectorText() override { return sectorText_; }
  void Beep() override;

  void SetSectorText(std::string text) { sectorText_ = std::move(text); }
  // The flag a Ctrl-C sets, as the Cancel button would.
  void SetStopFlag(std::uint8_t* stopRequested) { stopRequested_ = stopRequested; }

 private:
  void WipeBar();

  bool quiet_;
  Answer answer_;
  bool barOnTerminal_;
  std::string sectorText_;
  std::uint8_t* stopRequested_ = nullptr;
  std::unique_ptr<ProgressBar> bar_;
  int position_ = 0;
  std::size_t blocks_ = 0;
};

}  // namespace quorvex::cli
