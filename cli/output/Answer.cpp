#include "Answer.h"

#include <array>

namespace quorvex::cli {
namespace {

// ASCII letters and the Cyrillic capitals А..Я (U+0410..U+042F) to their small letters, in
// UTF-8; everything else as it is. Enough for the answers asked for, not a general folding.
std::string Lowered(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else if (c == 0xD0 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      ++i;
      if (next >= 0x90 && next <= 0x9F) {  // А..П -> а..п: D0 B0..D0 BF
        out += static_cast<char>(0xD0);
        out += static_cast<char>(next + 0x20);
      } else if (next >= 0xA0 && next <= 0xAF) {  // Р..Я -> р..я: D1 80..D1 8F
        out += static_cast<char>(0xD1);
        out += static_cast<char>(next - 0x20);
      } else {
        out += static_cast<char>(c);
        out += static_cast<char>(next);
      }
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

bool IsYesAnswer(std::string_view reply) {
  const std::string answer = Lowered(Trimmed(reply));
  constexpr std::array<std::string_view, 4> kYes{"y", "yes", "д", "да"};
  for (const std::string_view yes : kYes) {
    if (answer == yes) return true;
  }
  return false;
}

}  // namespace quorvex::cli
