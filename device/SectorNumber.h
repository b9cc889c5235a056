#pragma once

#include <optional>
#include <string_view>

#include "Operator.h"

namespace quorvex {

inline constexpr int kFirstSector = 1;
inline constexpr int kLastSector = 64;

// Text as a signed decimal integer: leading blanks, an optional sign and digits, within int.
std::optional<long> ParseInteger(std::string_view text);

// The sector-number check of the programming and clear commands: empty text, then the
// conversion, then the upper bound before the lower one. Reports the fault and returns
// nothing when the command must stop.
std::optional<int> CheckSectorNumber(Operator& op, std::string_view text);

}  // namespace quorvex
