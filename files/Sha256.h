#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvex {

// Lower-case hexadecimal digits of the bytes, two a byte.
std::string HexOf(const std::uint8_t* bytes, std::size_t size);

// The SHA-256 digest of the bytes, as 64 lower-case hexadecimal digits: what the audit record
// and the result event name a firmware file by. Computed by the platform's own cryptography
// library (OpenSSL, or Windows' bcrypt).
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

}  // namespace quorvex
