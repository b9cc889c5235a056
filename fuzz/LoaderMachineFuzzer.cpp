// Fuzz target: the simulated loader's request parser with any bytes from the host.
//
// Input: byte 0 chooses faults (bit 0 silent, 1 checksum mismatch, 2 stray byte, 3 mute after
// block byte 1, 4 hang up after block byte 1, 5 a delay of byte 1 ms, 6 and 7 a wrong code, bad
// check or short reply for the request whose index is byte 1); then chunks, each a control byte
// (bits 5 to 7: the host's silence before the chunk, from none to 6 s; bits 0 to 4: the chunk's
// length less one) followed by the host bytes of the chunk.
//
// Invariant: one host byte never makes the loader send more than one reply frame of the longest
// kind (the information-block read: 68 bytes, 69 with a bad check's padding) plus the stray byte,
// nor anything due before the byte arrived or after its delay; nothing is sent after the hang-up;
// it recognises at most one request per four host bytes; and without faults every emission is the
// block answer 06 or a well-formed frame whose reply code is the complement of one of the six
// request codes. No hang (libFuzzer's time-out), no out-of-bounds access or undefined behaviour.
#include <chrono>
#include <cstdint>
#include <vector>

#include "Faults.h"
#include "FlashState.h"
#include "Frames.h"
#include "FuzzCheck.h"
#include "LoaderMachine.h"

namespace {

using namespace quorvex::sim;
using std::chrono::milliseconds;

// The read reply's frame, one padding byte of a bad check, and the stray byte.
constexpr std::size_t kLongestReply = 3 + 65 + 1 + 1;
constexpr std::uint8_t kRequests[] = {kCheckRequest, kWriteBlockRequest, kEraseRequest,
                                      kInitRequest,  kReadBlockRequest,  kFinishRequest};
constexpr milliseconds kSilences[] = {milliseconds(0),   milliseconds(1),   milliseconds(9),
                                      milliseconds(260), milliseconds(950), milliseconds(5600),
                                      milliseconds(0),   milliseconds(0)};

bool ReplyCode(std::uint8_t code) {
  for (const std::uint8_t request : kRequests) {
    if (code == static_cast<std::uint8_t>(request ^ 0xFF)) return true;
  }
  return false;
}

bool WellFormed(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() == 1) return bytes[0] == kBlockAnswer;
  if (bytes.size() < 4 || bytes[0] != bytes.size() - 3 || bytes[1] != 0) return false;
  const std::span<const std::uint8_t> payload(bytes.data() + 2, bytes.size() - 3);
  return bytes.back() == static_cast<std::uint8_t>(FrameSum(payload) ^ 0xFF) &&
         ReplyCode(payload[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t choice = data[0];
  const std::uint8_t parameter = data[1];
  Faults faults;
  faults.silent = (choice & 0x01) != 0;
  faults.checksumMismatch = (choice & 0x02) != 0;
  faults.strayByte = (choice & 0x04) != 0;
  if ((choice & 0x08) != 0) faults.muteAfter = parameter % 8 + (parameter >= 128 ? 505 : 0);
  if ((choice & 0x10) != 0) faults.hangupAfter = parameter % 8;
  if ((choice & 0x20) != 0) faults.delay = milliseconds(parameter);
  const std::uint8_t faulty = kRequests[parameter % 6];
  if ((choice & 0xC0) == 0x40) faults.wrongCode.set(faulty);
  if ((choice & 0xC0) == 0x80) faults.badCheck.set(faulty);
  if ((choice & 0xC0) == 0xC0) faults.shortReply.set(faulty);
  const bool healthy = choice == 0;

  // Four megabytes of flash: kept from one input to the next and erased again after an input
  // that changed it, so every input starts from the same erased instrument.
  static FlashState flash;
  LoaderMachine machine(faults, &flash);
  bool changed = false;
  auto at = TimePoint{} + std::chrono::hours(1);
  std::size_t fed = 0;
  bool hungUp = false;
  for (std::size_t i = 2; i < size;) {
    const std::uint8_t control = data[i++];
    at += kSilences[control >> 5];
    const std::size_t length = (control & 0x1F) + 1u;
    for (std::size_t k = 0; k < length && i < size; ++k, ++i) {
      machine.Feed(data[i], at);
      ++fed;
      std::size_t sent = 0;
      for (const Emission& emission : machine.TakeEmissions()) {
        FUZZ_CHECK(!hungUp);
        FUZZ_CHECK(emission.due >= at && emission.due <= at + faults.delay);
        sent += emission.bytes.size();
        if (healthy) FUZZ_CHECK(WellFormed(emission.bytes));
        if (emission.hangUpAfter) hungUp = true;
      }
      FUZZ_CHECK(sent <= kLongestReply);
      FUZZ_CHECK(machine.Requests().size() * 4 <= fed);
      FUZZ_CHECK(machine.HungUp() == hungUp);
      changed = machine.TakeStateChanged() || changed;
    }
  }
  if (changed) {
    for (int sector = 0; sector < kSectors; ++sector) {
      flash.Erase(sector);
      flash.SetInfoBlock(sector, FlashState::Block{});
    }
  }
  return 0;
}
