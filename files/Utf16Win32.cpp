#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "Utf16.h"

namespace quorvex {

std::wstring WideFromCodePage(std::string_view bytes, unsigned codePage) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int wide = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, out.data(), wide);
  return out;
}

std::wstring WideFromUtf8(std::string_view utf8) { return WideFromCodePage(utf8, CP_UTF8); }

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int narrow =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (narrow <= 0) return {};
  std::string out(static_cast<std::size_t>(narrow), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), narrow, nullptr, nullptr);
  return out;
}

}  // namespace quorvex
