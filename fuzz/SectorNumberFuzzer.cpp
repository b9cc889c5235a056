// Fuzz target: the sector-number check with any text.
//
// Invariant: the check accepts the text exactly when it is a run of leading blanks (spaces), an
// optional sign and one or more decimal digits, nothing else, with a value from 1 to 64, and then
// yields that value; otherwise it shows exactly one message: "Введите номер сектора" for empty
// text, the conversion error for text that is not such an integer within the range of int, and
// "Введен неправильный номер сектора" for an integer out of range. ParseInteger agrees with the
// same slow reference. No out-of-bounds access or undefined behaviour.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "RecordingOperator.h"
#include "SectorNumber.h"
#include "Texts.h"

namespace {

// The integer a text spells, digit by digit, held as a magnitude that stops growing once it is
// past the range of int; nothing when the text is not blanks, an optional sign and digits.
std::optional<long long> ReferenceInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  long long magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    magnitude = std::min<long long>(magnitude * 10 + (text[i] - '0'), 1LL << 40);
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<long long> reference = ReferenceInteger(text);

  const std::optional<long> parsed = quorvex::ParseInteger(text);
  FUZZ_CHECK(parsed.has_value() == reference.has_value());
  if (parsed) FUZZ_CHECK(*parsed == *reference);

  quorvex::test::RecordingOperator op;
  const std::optional<int> sector = quorvex::CheckSectorNumber(op, text);
  const bool accept = reference && *reference >= 1 && *reference <= 64;
  FUZZ_CHECK(sector.has_value() == accept);
  if (accept) {
    FUZZ_CHECK(*sector == *reference);
    FUZZ_CHECK(op.shown.empty());
    return 0;
  }
  FUZZ_CHECK(op.shown.size() == 1);
  const quorvex::test::Shown& shown = op.shown.front();
  if (text.empty()) {
    FUZZ_CHECK(shown.plain && shown.text == quorvex::text::kEnterSector);
  } else if (!reference) {
    FUZZ_CHECK(shown.text == "'" + text + "' is not a valid integer value.");
    FUZZ_CHECK(shown.caption == "Quorvex");
  } else {
    FUZZ_CHECK(shown.text == quorvex::text::kWrongSector);
    FUZZ_CHECK(shown.caption == quorvex::text::kCaptionError);
  }
  return 0;
}
