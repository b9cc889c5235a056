#include "SectorNumber.h"

#include <charconv>
#include <climits>
#include <string>

#include "Texts.h"

namespace quorvex {

std::optional<long> ParseInteger(std::string_view text) {
  std::string_view digits = text;
  // Leading blanks are skipped, as the platform's integer conversion does; nothing else is.
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
  long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return value;
}

std::optional<int> CheckSectorNumber(Operator& op, std::string_view text) {
  if (text.empty()) {
    op.PlainMessage(text::kEnterSector);
    return std::nullopt;
  }
  const std::optional<long> value = ParseInteger(text);
  if (!value) {
    ShowException(op, "'" + std::string(text) + "' is not a valid integer value");
    return std::nullopt;
  }
  if (*value > kLastSector || *value < kFirstSector) {
    op.MessageBox(text::kWrongSector, text::kCaptionError, kMbOk | kMbIconError);
    return std::nullopt;
  }
  return static_cast<int>(*value);
}

}  // namespace quorvex
