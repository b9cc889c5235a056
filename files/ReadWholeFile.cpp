#include <algorithm>
#include <array>
#include <cstddef>
#include <filesystem>
#include <fstream>

#include "WholeFile.h"

namespace quorvex {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::size_t limit) {
  // The path is UTF-8; as a u8 path it reaches the system's wide calls on Windows.
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in) return false;
  bytes.clear();
  std::array<char, 65536> chunk{};
  while (bytes.size() <= limit) {
    const std::size_t wanted = std::min(chunk.size(), limit + 1 - bytes.size());
    in.read(chunk.data(), static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(in.gcount());
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    if (in.bad()) return false;
    if (!in) break;  // the end of the file
  }
  return true;
}

}  // namespace quorvex
