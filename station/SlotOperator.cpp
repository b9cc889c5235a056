#include "SlotOperator.h"

#include <utility>

#include "Device.h"
#include "FirmwareImage.h"

namespace quorvex::station {

SlotOperator::SlotOperator(Report& report, int slot, bool overwrite, const std::atomic<bool>& stop)
    : report_(report), slot_(slot), overwrite_(overwrite), stop_(stop) {}

void SlotOperator::Log(std::string_view line) {
  log_.emplace_back(line);
  report_.SlotLog(slot_, line);
}

int SlotOperator::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  lastMessage_ = std::string(caption) + ": " + std::string(text.substr(0, text.find('\n')));
  if ((flags & 0x0F) != kMbYesNo) {
    report_.SlotMessage(slot_, caption, text);
    return kIdOk;
  }
  // Nobody stands at a slot to answer: the job decides whether a written sector is overwritten.
  report_.SlotMessage(slot_, caption, text);
  if (!overwrite_) lastMessage_ = "declined: " + lastMessage_;
  return overwrite_ ? kIdYes : kIdNo;
}

void SlotOperator::PlainMessage(std::string_view text) {
  MessageBox(text, kApplicationTitle, kMbOk);
}

// The transfer sets the bar to 0 as it starts, moves it once after each block, and sets it to
// 0 again when it returns; the end is reported once, whether the last block went out, the run
// stopped, or the stream ended early.
void SlotOperator::SetProgress(int position) {
  switch (transfer_) {
    case Transfer::Idle:
      if (position != 0) return;
      transfer_ = Transfer::Running;
      blocks_ = 0;
      stopSeen_ = false;
      blockSent_ = false;
      position_ = 0;
      report_.SlotProgress(slot_, 0, 0, kFirmwareSize, false);
      return;
    case Transfer::Running: {
      const std::size_t bytes = blocks_ * kImageBlock;
      const bool afterBlock = std::exchange(blockSent_, false);
      if (bytes >= kFirmwareSize || stopSeen_ || !afterBlock) {
        transfer_ = Transfer::Ended;
        report_.SlotProgress(slot_, bytes >= kFirmwareSize ? 100 : position_, bytes, kFirmwareSize,
                             true);
        return;
      }
      if (position == position_) return;  // one report a percent is plenty
      position_ = position;
      report_.SlotProgress(slot_, position, bytes, kFirmwareSize, false);
      return;
    }
    case Transfer::Ended:
      if (position == 0) transfer_ = Transfer::Idle;
      return;
  }
}

void SlotOperator::ProcessMessages() {
  ++blocks_;
  blockSent_ = true;
  if (stopRequested_ != nullptr && stop_.load()) {
    *stopRequested_ = 1;
    stopSeen_ = true;
  }
}

std::string SlotOperator::LastReport() const {
  if (!lastMessage_.empty()) return lastMessage_;
  return log_.empty() ? std::string() : log_.back();
}

}  // namespace quorvex::station
