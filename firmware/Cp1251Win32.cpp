#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "Cp1251.h"
#include "Utf16.h"

namespace quorvex {

std::string DecodeCp1251(std::string_view bytes) {
  if (bytes.empty()) return {};
  const std::wstring utf16 = WideFromCodePage(bytes, 1251);
  if (utf16.empty()) return std::string(bytes);
  return Utf8FromWide(utf16);
}

std::optional<std::string> EncodeCp1251(std::string_view utf8) {
  if (utf8.empty()) return std::string();
  // Strict UTF-8: bytes that are not UTF-8 give no text rather than a replacement character.
  const int size = static_cast<int>(utf8.size());
  const int wideSize =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (wideSize <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), wideSize);
  // No best fit: a character the code page lacks is refused, never replaced by a look-alike.
  BOOL usedDefault = FALSE;
  const int narrow = ::WideCharToMultiByte(1251, WC_NO_BEST_FIT_CHARS, wide.data(), wideSize,
                                           nullptr, 0, nullptr, &usedDefault);
  if (narrow <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<std::size_t>(narrow), '\0');
  ::WideCharToMultiByte(1251, WC_NO_BEST_FIT_CHARS, wide.data(), wideSize, out.data(), narrow,
                        nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  return out;
}

}  // namespace quorvex
