#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex::cli {

// How many terminal columns UTF-8 text takes: one for most characters (Cyrillic is two bytes
// and one column), two for East Asian wide ones, none for combining marks. A byte that starts
// no valid character is counted as one column, as a terminal shows a replacement for it.
std::size_t DisplayColumns(std::string_view text);

// The longest beginning of `text` that fits in `columns`, never ending inside a character.
std::string CutToColumns(std::string_view text, std::size_t columns);

// `text` when it fits in `columns`; otherwise "…" and as much of its end as fits beside it,
// for names whose end tells them apart (a serial adapter's name ends in its serial number).
std::string KeepEnd(std::string_view text, std::size_t columns);

// Every line of `text` with `prefix` before it: a port's or a slot's name before each line of
// a message that runs over several.
std::string Prefixed(const std::string& prefix, std::string_view text);

}  // namespace quorvex::cli
