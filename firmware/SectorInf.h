#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "FirmwareImage.h"

namespace quorvex {

inline constexpr std::size_t kSectorInfSize = 64;
using SectorInf = std::array<std::uint8_t, kSectorInfSize>;

// The block written before a sector is programmed, taken from the image's last 64 bytes S:
// a space, S[0..19], then S[21..63] in their own places. S[20] does not reach the block.
SectorInf DeriveSectorInf(const FileBytes& image);

// Bytes 62 and 63 hold 0x55 0xAA: the sector was written; ask before rewriting it.
bool IsWritten(const SectorInf& block);
// Byte 63 holds 0xAA: the listing shows the sector's name.
bool IsLoaded(const SectorInf& block);
// The name: bytes 1 to 18 up to the first NUL, Windows-1251, returned as UTF-8.
std::string SectorName(const SectorInf& block);

}  // namespace quorvex
