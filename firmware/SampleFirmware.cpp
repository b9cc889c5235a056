#include "SampleFirmware.h"

#include <algorithm>
#include <memory>

#include "FirmwareFile.h"

namespace quorvex {

FileBytes SampleImage(std::string_view name, bool markedWritten, unsigned seed) {
  FileBytes image{};
  for (std::size_t i = 0; i < kFirmwareSize; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 13 + seed + (i >> 9));
  }
  std::uint8_t* info = image.data() + kInfoSourceOffset;
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 18), info);
  if (markedWritten) {
    info[62] = 0x55;
    info[63] = 0xAA;
  }
  return image;
}

bool WriteFirmwareFile(const std::string& path, const FileBytes& image, std::size_t size) {
  auto file = std::make_unique<FileBytes>();
  EncodeImage(image, *file);
  return WriteWholeFile(path, file->data(), std::min(size, file->size()));
}

}  // namespace quorvex
