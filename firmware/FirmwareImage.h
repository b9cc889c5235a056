#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvex {

inline constexpr std::size_t kFileSize = 65'600;      // every .fls file, and its image
inline constexpr std::size_t kKeySize = 256;          // the key leads the file, stored plain
inline constexpr std::size_t kFileBlock = 1'025;      // 64 blocks, each stored backwards
inline constexpr std::size_t kFirmwareSize = 65'536;  // what goes into the sector's flash
inline constexpr std::size_t kInfoSourceOffset = kFirmwareSize;  // last 64 bytes of the image

using FileBytes = std::array<std::uint8_t, kFileSize>;

// Unscrambles the file in place (each body byte XOR the key byte at its offset modulo 256)
// and writes every byte of the image: each 1,025-byte block reversed.
void DecodeImage(FileBytes& raw, FileBytes& image);

// The inverse: the one file whose image this is. The key is part of the image (bytes 769 to
// 1,024 hold the key backwards), so the image alone fixes the file.
void EncodeImage(const FileBytes& image, FileBytes& file);

}  // namespace quorvex
