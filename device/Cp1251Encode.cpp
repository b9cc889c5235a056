// The way back from UTF-8, built from the decoder itself, so that both directions agree on
// every byte of the code page on every platform.
#include <array>
#include <string>

#include "Cp1251.h"

namespace quorvex {

std::optional<std::string> EncodeCp1251(std::string_view utf8) {
  std::array<std::string, 256> characters;
  for (unsigned byte = 0; byte < 256; ++byte) {
    characters[byte] = DecodeCp1251(std::string(1, static_cast<char>(byte)));
  }
  std::string out;
  std::size_t at = 0;
  while (at < utf8.size()) {
    std::size_t best = 0;
    int match = -1;
    for (unsigned byte = 0; byte < 256; ++byte) {
      const std::string& c = characters[byte];
      // 0x98 has no character: its decoded form is the replacement character, never a match.
      if (byte == 0x98 || c.empty() || c.size() <= best) continue;
      if (utf8.substr(at, c.size()) == c) {
        best = c.size();
        match = static_cast<int>(byte);
      }
    }
    if (match < 0) return std::nullopt;
    out += static_cast<char>(match);
    at += best;
  }
  return out;
}

}  // namespace quorvex
