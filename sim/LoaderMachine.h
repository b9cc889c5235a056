#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "Faults.h"
#include "FlashState.h"
#include "SimulatedInstrument.h"

namespace quorvex::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

inline constexpr std::size_t kImageBlockBytes = 128;
inline constexpr int kImageBlocks = 512;
// The loader answers each image block with this one byte (ASCII ACK); the host does not look at it.
inline constexpr std::uint8_t kBlockAnswer = 0x06;

// Silences that end what the host was sending. A host never pauses this long inside a frame
// or a raw block (it pauses 10 ms between the bytes of an information block).
inline constexpr auto kPartialDropSilence = std::chrono::milliseconds(250);
// At an image block boundary: this long after the loader's last answer the host has cancelled.
inline constexpr auto kCancelSilence = std::chrono::milliseconds(900);
// A muted loader comes back after the host has been silent this long (the operator's reset).
inline constexpr auto kMuteReleaseSilence = std::chrono::milliseconds(5500);

// Bytes for the host, to be sent no earlier than `due`.
struct Emission {
  TimePoint due;
  std::vector<std::uint8_t> bytes;
  bool hangUpAfter = false;  // close the line once these bytes (and all before them) are out
};

// The loader as a pure state machine: host bytes go in with the time they arrived, replies come
// out with the time they are due. No I/O and no clock of its own, so every silence rule is driven
// by the time stamps alone.
class LoaderMachine {
 public:
  LoaderMachine(Faults faults, FlashState* flash);

  void Feed(std::uint8_t byte, TimePoint at);
  void Feed(std::span<const std::uint8_t> bytes, TimePoint at);
  [[nodiscard]] std::vector<Emission> TakeEmissions();

  [[nodiscard]] const std::vector<std::uint8_t>& Received() const { return received_; }
  [[nodiscard]] const std::vector<RequestRecord>& Requests() const { return requests_; }
  void ClearLog();
  [[nodiscard]] int BlocksReceived() const { return transfer_.blocks; }
  [[nodiscard]] bool HungUp() const { return phase_ == Phase::kHungUp; }
  // True once after flash or blocks changed in a way worth saving (erase, block write, finish).
  [[nodiscard]] bool TakeStateChanged() { return std::exchange(stateChanged_, false); }

 private:
  enum class Phase { kFrame, kInfoBlock, kImage, kMuted, kHungUp };

  struct Transfer {
    bool active = false;
    int sector = 0;
    int blocks = 0;
    std::uint64_t sum = 0;  // of every image byte received
  };

  void Record(std::uint8_t byte);
  void ApplySilence(TimePoint at);
  void OnFrameByte(std::uint8_t byte, TimePoint at);
  void OnRequest(std::span<const std::uint8_t> payload, TimePoint at);
  void OnInfoBlockByte(std::uint8_t byte, TimePoint at);
  void OnImageByte(std::uint8_t byte, TimePoint at);
  [[nodiscard]] bool FinishVerdict(int sector) const;
  void Reply(std::uint8_t request, std::vector<std::uint8_t> payload, TimePoint at);
  void Emit(TimePoint at, std::vector<std::uint8_t> bytes);
  void HangUp(TimePoint at);

  Faults faults_;
  FlashState* flash_;
  Phase phase_ = Phase::kFrame;
  std::optional<TimePoint> lastByte_;

  std::vector<std::uint8_t> frame_;  // length, ignored byte, payload, so far
  int infoSector_ = -1;              // -1: not a sector's block address, bytes are discarded
  FlashState::Block infoBytes_{};
  std::size_t infoCount_ = 0;
  Transfer transfer_;
  std::vector<std::uint8_t> imageBlock_;
  TimePoint lastAnswer_{};
  bool straySent_ = false;
  bool stateChanged_ = false;

  std::vector<Emission> emissions_;
  std::vector<std::uint8_t> received_;
  std::vector<RequestRecord> requests_;
};

// The sector index (0..63) whose information block lives at this block address, if any.
std::optional<int> SectorOfBlockAddress(unsigned address);

}  // namespace quorvex::sim
