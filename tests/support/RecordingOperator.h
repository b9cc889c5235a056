#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Operator.h"

namespace quorvex::test {

// One message the operator was shown: a box with caption and flags, or a plain message
// (caption "Quorvex", flags 0).
struct Shown {
  std::string text;
  std::string caption;
  unsigned flags = 0;
  bool plain = false;
  bool operator==(const Shown&) const = default;
};

// Records what the device code tells the operator and answers its questions from a script.
class RecordingOperator final : public Operator {
 public:
  void Log(std::string_view line) override { log.emplace_back(line); }
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override {
    shown.push_back({std::string(text), std::string(caption), flags, false});
    if ((flags & 0x0F) == kMbYesNo) return answerYes ? kIdYes : kIdNo;
    return kIdOk;
  }
  void PlainMessage(std::string_view text) override {
    shown.push_back({std::string(text), "Quorvex", 0, true});
  }
  void SetProgress(int position) override { progress.push_back(position); }
  void ProcessMessages() override {
    ++processed;
    if (onProcessMessages) onProcessMessages(processed);
  }
  std::string SectorText() override { return sectorText; }
  void Beep() override { ++beeps; }
  bool StopAsked() override {
    ++stopQueries;
    return stopAt > 0 && stopQueries >= stopAt;
  }

  std::vector<std::string> log;
  std::vector<Shown> shown;
  std::vector<int> progress;
  int processed = 0;
  int beeps = 0;
  bool answerYes = true;
  std::string sectorText = "1";
  std::function<void(int)> onProcessMessages;  // given the count of calls so far
  int stopQueries = 0;
  int stopAt = 0;  // from this StopAsked call on, a stop is asked for; 0: never
};

}  // namespace quorvex::test
