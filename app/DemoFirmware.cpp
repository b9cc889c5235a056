#include "DemoFirmware.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "FirmwareFile.h"
#include "FirmwareImage.h"

namespace quorvex {

bool WriteDemoFirmware(const std::string& path) {
  auto image = std::make_unique<FileBytes>();
  for (std::size_t i = 0; i < kFirmwareSize; ++i) {
    (*image)[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  }
  // The information block's source: the name (Windows-1251) from its first byte, zeros, and
  // the written marker in its last two bytes.
  std::uint8_t* info = image->data() + kInfoSourceOffset;
  std::fill(info, info + 64, std::uint8_t{0});
  const std::uint8_t name[] = {0xC4, 0xE5, 0xEC, 0xEE};  // "Демо"
  std::copy(std::begin(name), std::end(name), info);
  info[62] = 0x55;
  info[63] = 0xAA;

  auto file = std::make_unique<FileBytes>();
  EncodeImage(*image, *file);
  return WriteWholeFile(path, file->data(), file->size());
}

}  // namespace quorvex
