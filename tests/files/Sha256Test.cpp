#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Sha256.h"

namespace quorvex {
namespace {

struct DigestCase {
  std::string input;
  std::string digest;
};

// Known answers: the empty message, "abc", and a message that needs a second padding block.
TEST(Sha256Test, KnownDigests) {
  const std::vector<DigestCase> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const DigestCase& c : cases) {
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size()),
              c.digest)
        << c.input;
  }
}

}  // namespace
}  // namespace quorvex
