// SHA-256 through the system's OpenSSL library.
#include <openssl/evp.h>

#include <array>
#include <stdexcept>

#include "Sha256.h"

namespace quorvex {

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) != 1 || length != 32) {
    throw std::runtime_error("SHA-256 is not available");
  }
  return HexOf(digest.data(), length);
}

}  // namespace quorvex
