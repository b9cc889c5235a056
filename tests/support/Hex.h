#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::test {

// "01 00 02 FC" -> bytes; spaces are ignored.
inline std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (const char c : text) {
    int nibble = -1;
    if (c >= '0' && c <= '9') nibble = c - '0';
    if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
    if (nibble < 0) continue;
    if (high < 0) {
      high = nibble;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + nibble));
      high = -1;
    }
  }
  return bytes;
}

inline std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace quorvex::test
