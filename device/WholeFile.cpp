#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "FirmwareFile.h"

namespace quorvex {

bool WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t count) {
  // A temporary file beside the target, then a rename: a reader never sees half a file.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);  // replaces the target, on Windows too
  if (error) std::remove(temp.c_str());
  return !error;
}

}  // namespace quorvex
