#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvex::cli {

// The SHA-256 digest of the bytes, as 64 lower-case hexadecimal digits: what the audit record
// and the result event name a firmware file by.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

}  // namespace quorvex::cli
