#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvex::sim {

// A frame on the line: length L, one byte of no meaning (sent as 0x00), L payload bytes, and a
// check byte that is the 8-bit sum of L and the payload with every bit inverted.
std::uint8_t FrameSum(std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload);

// A frame the host cannot accept: its check byte shares bits with the sum. A sum of zero fails no
// check byte, so such a payload gets one padding byte 0x01 first.
std::vector<std::uint8_t> EncodeFrameWithBadCheck(std::span<const std::uint8_t> payload);

// The acceptance rule the host uses, and the loader too: no bit set in both check byte and sum.
constexpr bool CheckAccepts(std::uint8_t check, std::uint8_t sum) { return (check & sum) == 0; }

}  // namespace quorvex::sim
