#include "PortRunOperator.h"

#include <utility>

#include "Device.h"
#include "FirmwareImage.h"
#include "Interrupt.h"

namespace quorvex::cli {

PortRunOperator::PortRunOperator(Output& output, std::string port, bool yes)
    : output_(output), port_(std::move(port)), yes_(yes) {}

void PortRunOperator::Log(std::string_view line) {
  log_.emplace_back(line);
  output_.Log(port_, line);
}

void PortRunOperator::SectorListed(int sector, bool loaded, const std::string& name) {
  output_.SectorListed(port_, sector, loaded, name);
}

int PortRunOperator::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  lastMessage_ = std::string(caption) + ": " + std::string(text.substr(0, text.find('\n')));
  if ((flags & 0x0F) != kMbYesNo) {
    output_.Message(port_, caption, text);
    return kIdOk;
  }
  const bool yes = output_.Ask(port_, caption, text, yes_);
  if (!yes) lastMessage_ = "declined: " + lastMessage_;
  return yes ? kIdYes : kIdNo;
}

void PortRunOperator::PlainMessage(std::string_view text) {
  MessageBox(text, kApplicationTitle, kMbOk);
}

// The transfer sets the bar to 0 as it starts, moves it once after each block of kImageBlock
// bytes, and sets it to 0 again when it returns (after the finish request, or at once when
// stopped).
void PortRunOperator::SetProgress(int position) {
  switch (transfer_) {
    case Transfer::Idle:
      if (position != 0) return;
      transfer_ = Transfer::Running;
      blocks_ = 0;
      stopSeen_ = false;
      blockSent_ = false;
      output_.Progress(port_, 0, 0, kFirmwareSize, false);
      return;
    case Transfer::Running: {
      const std::size_t bytes = blocks_ * kImageBlock;
      // The last block is out, the run stops, or the stream ended early (a silent loader):
      // the bar is set without a block sent just before.
      const bool afterBlock = std::exchange(blockSent_, false);
      if (bytes >= kFirmwareSize || stopSeen_ || !afterBlock) {
        transfer_ = Transfer::Ended;
        output_.Progress(port_, bytes >= kFirmwareSize ? 100 : position_, bytes, kFirmwareSize,
                         true);
        return;
      }
      position_ = position;
      output_.Progress(port_, position, bytes, kFirmwareSize, false);
      return;
    }
    case Transfer::Ended:
      if (position == 0) transfer_ = Transfer::Idle;  // the transfer has returned
      return;
  }
}

void PortRunOperator::ProcessMessages() {
  ++blocks_;
  blockSent_ = true;
  if (stopRequested_ != nullptr && InterruptRequested()) {
    *stopRequested_ = 1;
    stopSeen_ = true;
  }
}

void PortRunOperator::Beep() { output_.Beep(); }

bool PortRunOperator::StopAsked() { return InterruptRequested(); }

std::string PortRunOperator::LastReport() const {
  if (!lastMessage_.empty()) return lastMessage_;
  return log_.empty() ? std::string() : log_.back();
}

}  // namespace quorvex::cli
