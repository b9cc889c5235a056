#include "PortKey.h"

#include "TComPort.h"

#ifndef _WIN32
#include <filesystem>
#include <system_error>
#endif

namespace quorvex {

std::string PortKeyOf(std::string_view path) {
#ifdef _WIN32
  // Device names are ASCII (COM1..COM254); anything else is left as it is.
  std::string key = PortNameOf(path);
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
#else
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(std::string(path), error);
  return error ? std::string(path) : canonical.string();
#endif
}

}  // namespace quorvex
