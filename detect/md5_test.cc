#include "detect/md5.h"

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "detect/fingerprint.h"
#include "tests/test_support.h"

namespace {

// The ways bytes are fed: whole (no sizes), or in pieces of these sizes in
// turn, which fall across the 64-byte blocks unevenly, empty pieces among them.
const std::vector<size_t> pieceSizes[] = {{}, {1}, {0, 3, 61}, {63, 2, 0}, {64}, {65, 127, 5}};

std::string digestInPieces(const std::string& bytes, const std::vector<size_t>& sizes) {
  Md5State state = md5Begin();
  for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
    size_t piece = sizes.empty() ? bytes.size() : sizes[i % sizes.size()];
    if (piece > bytes.size() - at) piece = bytes.size() - at;
    md5Add(&state, bytes.data() + at, piece);
    at += piece;
  }
  unsigned char digest[16];
  md5Finish(&state, digest);
  return md5Hex(digest);
}

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

}  // namespace

TEST(Md5, GivesTheDigestsOfRfc1321) {
  const struct { const char* bytes; const char* digest; } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases)
    for (size_t way = 0; way < std::size(pieceSizes); ++way)
      EXPECT_EQ(c.digest, digestInPieces(c.bytes, pieceSizes[way])) << c.bytes << ", way " << way;
}

// OpenSSL's MD5 as the oracle: every length up to past four blocks, so that
// the padding meets every place in a block, and a few MiB.
TEST(Md5, AgreesWithOpenSsl) {
  const std::string bytes = randomBytes(300, 1321);
  for (size_t length = 0; length <= bytes.size(); ++length)
    for (size_t way = 0; way < std::size(pieceSizes); ++way)
      EXPECT_EQ(md5Of(bytes.substr(0, length)),
                digestInPieces(bytes.substr(0, length), pieceSizes[way]))
          << length << " bytes, way " << way;
  const std::string large = randomBytes((3 << 20) + 45, 2024);
  for (size_t piece : {size_t(0), size_t(65), size_t(65536), size_t(1000003)})
    EXPECT_EQ(md5Of(large), digestInPieces(large, {piece == 0 ? large.size() : piece}))
        << "3 MiB in pieces of " << piece;
}
