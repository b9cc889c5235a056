#include "LoaderMachine.h"

#include <numeric>

#include "Frames.h"

namespace quorvex::sim {
namespace {

constexpr unsigned kFirstBlockAddress = 0xE000;
constexpr std::uint8_t kVersionHigh = 0x45;
constexpr std::uint8_t kVersionLow = 0xB3;
constexpr std::uint8_t kStrayByte = 0x00;
constexpr std::uint8_t kVerdictMatched = 0x00;
constexpr std::uint8_t kVerdictMismatch = 0x01;
// Host bytes kept for inspection and requests recorded, at most; a flood of garbage stops there.
constexpr std::size_t kReceivedLogLimit = 16u << 20;
constexpr std::size_t kRequestLogLimit = 1u << 20;

constexpr std::uint8_t ReplyCode(std::uint8_t request) {
  return static_cast<std::uint8_t>(request ^ 0xFF);
}

// The wrong-code fault answers with the reply code of another request: the erase reply code,
// or the initialisation reply code when the request is itself the erase.
constexpr std::uint8_t OtherReplyCode(std::uint8_t request) {
  return request == kEraseRequest ? ReplyCode(kInitRequest) : ReplyCode(kEraseRequest);
}

bool KnownRequest(std::uint8_t code) {
  switch (code) {
    case kCheckRequest:
    case kWriteBlockRequest:
    case kEraseRequest:
    case kInitRequest:
    case kReadBlockRequest:
    case kFinishRequest:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<int> SectorOfBlockAddress(unsigned address) {
  if (address < kFirstBlockAddress || (address - kFirstBlockAddress) % kBlockBytes != 0) {
    return std::nullopt;
  }
  const auto index = static_cast<int>((address - kFirstBlockAddress) / kBlockBytes);
  if (!FlashState::ValidIndex(index)) return std::nullopt;
  return index;
}

LoaderMachine::LoaderMachine(Faults faults, FlashState* flash) : faults_(faults), flash_(flash) {
  imageBlock_.reserve(kImageBlockBytes);
}

void LoaderMachine::Feed(std::span<const std::uint8_t> bytes, TimePoint at) {
  for (std::uint8_t byte : bytes) Feed(byte, at);
}

void LoaderMachine::Feed(std::uint8_t byte, TimePoint at) {
  Record(byte);
  if (phase_ == Phase::kHungUp) return;
  ApplySilence(at);
  lastByte_ = at;
  switch (phase_) {
    case Phase::kFrame:
      OnFrameByte(byte, at);
      break;
    case Phase::kInfoBlock:
      OnInfoBlockByte(byte, at);
      break;
    case Phase::kImage:
      OnImageByte(byte, at);
      break;
    case Phase::kMuted:
    case Phase::kHungUp:
      break;
  }
}

std::vector<Emission> LoaderMachine::TakeEmissions() { return std::exchange(emissions_, {}); }

void LoaderMachine::ClearLog() {
  received_.clear();
  requests_.clear();
}

void LoaderMachine::Record(std::uint8_t byte) {
  if (received_.size() < kReceivedLogLimit) received_.push_back(byte);
}

void LoaderMachine::ApplySilence(TimePoint at) {
  if (!lastByte_) return;
  const auto silence = at - *lastByte_;
  switch (phase_) {
    case Phase::kFrame:
      if (!frame_.empty() && silence >= kPartialDropSilence) frame_.clear();
      break;
    case Phase::kInfoBlock:
      if (silence >= kPartialDropSilence) phase_ = Phase::kFrame;  // the write is abandoned
      break;
    case Phase::kImage:
      if (!imageBlock_.empty() && silence >= kPartialDropSilence) imageBlock_.clear();
      if (imageBlock_.empty() && at - lastAnswer_ >= kCancelSilence) phase_ = Phase::kFrame;
      break;
    case Phase::kMuted:
      if (silence >= kMuteReleaseSilence) phase_ = Phase::kFrame;
      break;
    case Phase::kHungUp:
      break;
  }
}

void LoaderMachine::OnFrameByte(std::uint8_t byte, TimePoint at) {
  frame_.push_back(byte);
  const std::size_t length = frame_[0];
  if (frame_.size() < length + 3) return;
  const std::span<const std::uint8_t> payload(frame_.data() + 2, length);
  const bool accepted = CheckAccepts(frame_.back(), FrameSum(payload));
  if (accepted && length > 0) {
    const std::vector<std::uint8_t> request(payload.begin(), payload.end());
    frame_.clear();
    OnRequest(request, at);
  } else {
    frame_.clear();  // a bad check byte or an empty frame: no reply
  }
}

void LoaderMachine::OnRequest(std::span<const std::uint8_t> payload, TimePoint at) {
  const std::uint8_t code = payload[0];
  if (!KnownRequest(code)) return;
  if (requests_.size() < kRequestLogLimit) {
    requests_.push_back({.code = code,
                         .payload = std::vector<std::uint8_t>(payload.begin(), payload.end()),
                         .at = at});
  }
  const auto address = [&] { return static_cast<unsigned>(payload[1] << 8 | payload[2]); };

  switch (code) {
    case kCheckRequest: {
      if (payload.size() != 1) return;
      const auto version = faults_.version.value_or(std::array{kVersionHigh, kVersionLow});
      Reply(code, {ReplyCode(code), version[0], version[1]}, at);
      return;
    }
    case kWriteBlockRequest: {
      if (payload.size() != 3) return;
      // The 64 raw bytes follow whatever the address; for an address that is no sector's block
      // they are taken and discarded, and nothing is answered.
      infoSector_ = SectorOfBlockAddress(address()).value_or(-1);
      infoCount_ = 0;
      phase_ = Phase::kInfoBlock;
      return;
    }
    case kEraseRequest: {
      if (payload.size() != 2 || !FlashState::ValidIndex(payload[1])) return;
      flash_->Erase(payload[1]);
      stateChanged_ = true;
      Reply(code, {ReplyCode(code)}, at);
      return;
    }
    case kInitRequest: {
      if (payload.size() != 2 || !FlashState::ValidIndex(payload[1])) return;
      transfer_ = Transfer{.active = true, .sector = payload[1], .blocks = 0, .sum = 0};
      imageBlock_.clear();
      Reply(code, {ReplyCode(code)}, at);
      lastAnswer_ = at + faults_.delay;
      phase_ = Phase::kImage;
      if (faults_.hangupAfter == 0) HangUp(at);
      return;
    }
    case kReadBlockRequest: {
      if (payload.size() != 3) return;
      const auto sector = SectorOfBlockAddress(address());
      if (!sector) return;
      std::vector<std::uint8_t> reply{ReplyCode(code)};
      const auto& block = flash_->InfoBlock(*sector);
      reply.insert(reply.end(), block.begin(), block.end());
      Reply(code, std::move(reply), at);
      return;
    }
    case kFinishRequest: {
      if (payload.size() != 2 || !FlashState::ValidIndex(payload[1])) return;
      const bool matched = FinishVerdict(payload[1]);
      transfer_.active = false;
      stateChanged_ = true;
      Reply(code, {ReplyCode(code), matched ? kVerdictMatched : kVerdictMismatch}, at);
      return;
    }
    default:
      return;
  }
}

bool LoaderMachine::FinishVerdict(int sector) const {
  if (faults_.checksumMismatch || !transfer_.active || transfer_.sector != sector ||
      transfer_.blocks != kImageBlocks) {
    return false;
  }
  // The loader sums what it received and what the flash now holds; programming that could not
  // set a bit (the sector was not erased) makes them differ.
  const auto flash = flash_->Sector(sector);
  return std::accumulate(flash.begin(), flash.end(), std::uint64_t{0}) == transfer_.sum;
}

void LoaderMachine::OnInfoBlockByte(std::uint8_t byte, TimePoint at) {
  infoBytes_[infoCount_++] = byte;
  if (infoCount_ < kBlockBytes) return;
  phase_ = Phase::kFrame;
  if (infoSector_ < 0) return;
  flash_->SetInfoBlock(infoSector_, infoBytes_);
  stateChanged_ = true;
  Reply(kWriteBlockRequest, {ReplyCode(kWriteBlockRequest)}, at);
}

void LoaderMachine::OnImageByte(std::uint8_t byte, TimePoint at) {
  imageBlock_.push_back(byte);
  if (imageBlock_.size() < kImageBlockBytes) return;

  const int block = ++transfer_.blocks;
  flash_->Program(transfer_.sector, static_cast<std::size_t>(block - 1) * kImageBlockBytes,
                  imageBlock_);
  transfer_.sum = std::accumulate(imageBlock_.begin(), imageBlock_.end(), transfer_.sum);
  imageBlock_.clear();
  stateChanged_ = true;

  if (faults_.muteAfter && block > *faults_.muteAfter) {
    phase_ = Phase::kMuted;
    return;
  }
  if (!faults_.silent) Emit(at + faults_.delay, {kBlockAnswer});
  lastAnswer_ = at + faults_.delay;
  if (faults_.muteAfter == block) {
    phase_ = Phase::kMuted;
  } else if (faults_.hangupAfter == block) {
    HangUp(at);
  } else if (block == kImageBlocks) {
    phase_ = Phase::kFrame;
  }
}

void LoaderMachine::Reply(std::uint8_t request, std::vector<std::uint8_t> payload, TimePoint at) {
  if (faults_.silent) return;
  if (faults_.wrongCode.test(request)) payload[0] = OtherReplyCode(request);
  if (faults_.shortReply.test(request)) payload.resize(1);
  std::vector<std::uint8_t> bytes =
      faults_.badCheck.test(request) ? EncodeFrameWithBadCheck(payload) : EncodeFrame(payload);
  if (faults_.strayByte && !straySent_) {
    bytes.insert(bytes.begin(), kStrayByte);
    straySent_ = true;
  }
  Emit(at + faults_.delay, std::move(bytes));
}

void LoaderMachine::Emit(TimePoint at, std::vector<std::uint8_t> bytes) {
  emissions_.push_back(Emission{.due = at, .bytes = std::move(bytes)});
}

void LoaderMachine::HangUp(TimePoint at) {
  emissions_.push_back(Emission{.due = at + faults_.delay, .bytes = {}, .hangUpAfter = true});
  phase_ = Phase::kHungUp;
}

}  // namespace quorvex::sim
