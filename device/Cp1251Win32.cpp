#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "Cp1251.h"

namespace quorvex {

std::string DecodeCp1251(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int wide = ::MultiByteToWideChar(1251, 0, bytes.data(), size, nullptr, 0);
  if (wide <= 0) return std::string(bytes);
  std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(1251, 0, bytes.data(), size, utf16.data(), wide);
  const int narrow =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(narrow), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, out.data(), narrow, nullptr, nullptr);
  return out;
}

}  // namespace quorvex
