#include "FirmwareImage.h"

namespace quorvex {
namespace {

void ReverseBlocks(const FileBytes& from, FileBytes& to) {
  for (std::size_t block = 0; block < kFileSize; block += kFileBlock) {
    for (std::size_t k = 0; k < kFileBlock; ++k) to[block + k] = from[block + kFileBlock - 1 - k];
  }
}

}  // namespace

void DecodeImage(FileBytes& raw, FileBytes& image) {
  // The key bytes are never changed, so the key read from the file is used throughout.
  for (std::size_t i = kKeySize; i < kFileSize; ++i) raw[i] ^= raw[i % kKeySize];
  ReverseBlocks(raw, image);
}

void EncodeImage(const FileBytes& image, FileBytes& file) {
  ReverseBlocks(image, file);
  for (std::size_t i = kKeySize; i < kFileSize; ++i) file[i] ^= file[i % kKeySize];
}

}  // namespace quorvex
