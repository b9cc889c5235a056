#pragma once

// Text is UTF-8 everywhere inside the program; the Win32 calls take UTF-16. These two
// conversions are the only crossing, used right at each wide (W) call.
#ifdef _WIN32
#include <string>
#include <string_view>

namespace quorvex {

// Invalid UTF-8 turns into U+FFFD, as the system's own conversion does.
std::wstring WideFromUtf8(std::string_view utf8);
// Bytes in a Windows code page (1251, say); empty when the system cannot convert them.
std::wstring WideFromCodePage(std::string_view bytes, unsigned codePage);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace quorvex
#endif
