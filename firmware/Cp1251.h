#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Windows-1251 text, as the instrument stores names, to UTF-8 for display. A byte that
// the code page leaves undefined (0x98) shows as U+FFFD.
std::string DecodeCp1251(std::string_view bytes);

// UTF-8 text to Windows-1251 bytes, for names typed by a person; nothing when a character
// has no place in the code page.
std::optional<std::string> EncodeCp1251(std::string_view utf8);

}  // namespace quorvex
