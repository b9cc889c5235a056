#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SimulatedInstrument.h"

namespace quorvex::sim {

// What the instrument keeps: 64 flash sectors and one information block per sector.
// Sectors are addressed by their index on the line, 0 to 63.
class FlashState {
 public:
  using Block = std::array<std::uint8_t, kBlockBytes>;

  FlashState();  // every sector erased (0xFF), every block zeroed

  [[nodiscard]] static bool ValidIndex(int index) { return index >= 0 && index < kSectors; }

  [[nodiscard]] std::span<const std::uint8_t> Sector(int index) const;
  void Erase(int index);
  // Programs bytes at an offset of the sector. Programming only clears bits, as flash does:
  // a byte that was not erased first ends up as the AND of the old and the new value.
  void Program(int index, std::size_t offset, std::span<const std::uint8_t> bytes);

  [[nodiscard]] const Block& InfoBlock(int index) const { return blocks_.at(index); }
  void SetInfoBlock(int index, const Block& block) { blocks_.at(index) = block; }

  // A missing file leaves the state as it is and succeeds; a file of the wrong size or kind fails.
  bool Load(const std::string& path, std::string* error);
  // Writes a temporary file beside `path` and renames it over `path`.
  bool Save(const std::string& path, std::string* error) const;

 private:
  std::vector<std::uint8_t> flash_;
  std::vector<Block> blocks_;
};

}  // namespace quorvex::sim
