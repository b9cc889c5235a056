#include <string>
#include <string_view>

#include "FirmwareFile.h"

namespace quorvex {
namespace {

// Windows paths end their folders in "\" or ":" (and accept "/"); elsewhere only "/" does.
std::size_t LastSeparator(std::string_view path) {
#ifdef _WIN32
  return path.find_last_of("\\/:");
#else
  return path.find_last_of('/');
#endif
}

}  // namespace

std::string FolderOf(std::string_view path) {
  const std::size_t at = LastSeparator(path);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string FileNameOf(std::string_view path) {
  const std::size_t at = LastSeparator(path);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

}  // namespace quorvex
