#include <filesystem>
#include <fstream>
#include <iterator>

#include "WholeFile.h"

namespace quorvex {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  // The path is UTF-8; as a u8 path it reaches the system's wide calls on Windows.
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace quorvex
