#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "FirmwareImage.h"

namespace quorvex {

// A firmware image to try the programmer with, for the window's demonstration, the
// benchmark and the tests: a byte pattern over the 65,536 firmware bytes (varied by `seed`),
// and an information source that names the sector `name` (Windows-1251 bytes, at most 18)
// and, when `markedWritten`, carries the written marker 55 AA.
FileBytes SampleImage(std::string_view name, bool markedWritten, unsigned seed = 0);

// Writes the .fls file of `image`, cut to its first `size` bytes (a shorter file shows how a
// wrong size is refused); false when it cannot be written.
bool WriteFirmwareFile(const std::string& path, const FileBytes& image,
                       std::size_t size = kFileSize);

}  // namespace quorvex
