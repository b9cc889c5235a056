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

}  // namespace quorvex
