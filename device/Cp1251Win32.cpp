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
  const int size = static_cast<int>(bytes.size());
  const int wide = ::MultiByteToWideChar(1251, 0, bytes.data(), size, nullptr, 0);
  if (wide <= 0) return std::string(bytes);
  std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(1251, 0, bytes.data(), size, utf16.data(), wide);
  return Utf8FromWide(utf16);
}

}  // namespace quorvex
