#include "FlashState.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "SystemErrorText.h"
#include "UniqueFd.h"
#include "WholeFile.h"

namespace quorvex::sim {
namespace {

// The state file: this 8-byte tag, the 64 sectors in order, then the 64 information blocks.
constexpr std::string_view kTag{"QVXSIM1\n"};
constexpr std::size_t kFlashBytes = kSectors * kSectorBytes;
constexpr std::size_t kFileBytes = kTag.size() + kFlashBytes + kSectors * kBlockBytes;

std::string Describe(const std::string& what, const std::string& path, int error) {
  return what + " '" + path + "': " + SystemErrorText(error);
}

}  // namespace

FlashState::FlashState() : flash_(kFlashBytes, 0xFF), blocks_(kSectors, Block{}) {}

std::span<const std::uint8_t> FlashState::Sector(int index) const {
  if (!ValidIndex(index)) throw std::out_of_range("sector index");
  return {flash_.data() + static_cast<std::size_t>(index) * kSectorBytes, kSectorBytes};
}

void FlashState::Erase(int index) {
  if (!ValidIndex(index)) throw std::out_of_range("sector index");
  auto first = flash_.begin() + static_cast<std::ptrdiff_t>(index * kSectorBytes);
  std::fill(first, first + static_cast<std::ptrdiff_t>(kSectorBytes), 0xFF);
}

void FlashState::Program(int index, std::size_t offset, std::span<const std::uint8_t> bytes) {
  if (!ValidIndex(index) || offset > kSectorBytes || bytes.size() > kSectorBytes - offset) {
    throw std::out_of_range("flash range");
  }
  std::uint8_t* cell = flash_.data() + static_cast<std::size_t>(index) * kSectorBytes + offset;
  for (std::uint8_t byte : bytes) *cell++ &= byte;
}

bool FlashState::Load(const std::string& path, std::string* error) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.Valid()) {
    if (errno == ENOENT) return true;
    *error = Describe("cannot open state file", path, errno);
    return false;
  }
  std::vector<std::uint8_t> content(kFileBytes + 1);
  std::size_t got = 0;
  while (got < content.size()) {
    const ssize_t n = ::read(file.Get(), content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Describe("cannot read state file", path, errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got != kFileBytes || !std::equal(kTag.begin(), kTag.end(), content.begin())) {
    *error = "state file '" + path + "' is not a simulator state (" + std::to_string(kFileBytes) +
             " bytes starting with QVXSIM1)";
    return false;
  }
  auto at = content.begin() + static_cast<std::ptrdiff_t>(kTag.size());
  std::copy_n(at, kFlashBytes, flash_.begin());
  at += static_cast<std::ptrdiff_t>(kFlashBytes);
  for (Block& block : blocks_) {
    std::copy_n(at, kBlockBytes, block.begin());
    at += static_cast<std::ptrdiff_t>(kBlockBytes);
  }
  return true;
}

bool FlashState::Save(const std::string& path, std::string* error) const {
  std::vector<std::uint8_t> content;
  content.reserve(kFileBytes);
  content.insert(content.end(), kTag.begin(), kTag.end());
  content.insert(content.end(), flash_.begin(), flash_.end());
  for (const Block& block : blocks_) content.insert(content.end(), block.begin(), block.end());

  std::error_code failure;
  if (!WriteWholeFile(path, content.data(), content.size(), &failure)) {
    *error = "cannot write state file '" + path + "': " + failure.message();
    return false;
  }
  return true;
}

}  // namespace quorvex::sim
