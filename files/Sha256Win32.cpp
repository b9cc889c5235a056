// SHA-256 through the system's own cryptography provider (bcrypt.dll).
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <array>
#include <stdexcept>

#include "Sha256.h"

namespace quorvex {
namespace {

struct Algorithm {
  BCRYPT_ALG_HANDLE handle = nullptr;
  ~Algorithm() {
    if (handle != nullptr) ::BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct Hash {
  BCRYPT_HASH_HANDLE handle = nullptr;
  ~Hash() {
    if (handle != nullptr) ::BCryptDestroyHash(handle);
  }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
  Algorithm algorithm;
  Hash hash;
  std::array<unsigned char, 32> digest{};
  bool ok =
      Succeeded(
          ::BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
      Succeeded(::BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0));
  // BCryptHashData takes at most a ULONG of bytes a call.
  while (ok && size > 0) {
    const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    ok = Succeeded(::BCryptHashData(hash.handle, const_cast<PUCHAR>(data), chunk, 0));
    data += chunk;
    size -= chunk;
  }
  ok = ok && Succeeded(::BCryptFinishHash(hash.handle, digest.data(),
                                          static_cast<ULONG>(digest.size()), 0));
  if (!ok) throw std::runtime_error("SHA-256 is not available");
  return HexOf(digest.data(), digest.size());
}

}  // namespace quorvex
