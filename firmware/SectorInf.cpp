#include "SectorInf.h"

#include <algorithm>
#include <string_view>

#include "Cp1251.h"

namespace quorvex {

SectorInf DeriveSectorInf(const FileBytes& image) {
  const std::uint8_t* source = image.data() + kInfoSourceOffset;
  SectorInf block{};
  block[0] = 0x20;
  std::copy(source, source + 20, block.begin() + 1);
  std::copy(source + 21, source + kSectorInfSize, block.begin() + 21);
  return block;
}

bool IsWritten(const SectorInf& block) { return block[62] == 0x55 && block[63] == 0xAA; }

bool IsLoaded(const SectorInf& block) { return block[63] == 0xAA; }

std::string SectorName(const SectorInf& block) {
  constexpr std::size_t kNameBytes = 18;
  const auto* first = block.data() + 1;
  const auto* end = std::find(first, first + kNameBytes, std::uint8_t{0});
  return DecodeCp1251(std::string_view(reinterpret_cast<const char*>(first),
                                       static_cast<std::size_t>(end - first)));
}

}  // namespace quorvex
