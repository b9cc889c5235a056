#include "Frames.h"

namespace quorvex::sim {

std::uint8_t FrameSum(std::span<const std::uint8_t> payload) {
  auto sum = static_cast<std::uint8_t>(payload.size());
  for (std::uint8_t byte : payload) sum = static_cast<std::uint8_t>(sum + byte);
  return sum;
}

std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 3);
  frame.push_back(static_cast<std::uint8_t>(payload.size()));
  frame.push_back(0x00);
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(static_cast<std::uint8_t>(FrameSum(payload) ^ 0xFF));
  return frame;
}

std::vector<std::uint8_t> EncodeFrameWithBadCheck(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> padded(payload.begin(), payload.end());
  if (FrameSum(padded) == 0) {
    if (padded.size() < 255) {
      padded.push_back(0x01);
    } else {
      padded.back() ^= 0x01;  // no room for padding: the sum moves by one
    }
  }
  std::vector<std::uint8_t> frame = EncodeFrame(padded);
  frame.back() = FrameSum(padded);  // equal to the sum: every set bit collides
  return frame;
}

}  // namespace quorvex::sim
