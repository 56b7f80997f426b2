#include "detect/md5.h"

#include <string.h>

namespace {

// A little-endian word of a block, whatever the processor's order; the
// compilers make one load of it.
inline uint32_t word(const unsigned char* block, int index) {
  const unsigned char* p = block + 4 * index;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint32_t rotateLeft(uint32_t value, int by) { return value << by | value >> (32 - by); }

// The four rounds' steps. Each adds the message word and the constant
// before the newest word (b) is needed, so that only the rest waits for it.
// F and I are RFC 1321's functions with fewer operations; in G the two
// halves of (b & d) | (c & ~d) share no bit, so they are added, and c & ~d
// is ready before b.
inline uint32_t stepF(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t,
                      int s) {
  return b + rotateLeft(a + x + t + (d ^ (b & (c ^ d))), s);
}
inline uint32_t stepG(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t,
                      int s) {
  return b + rotateLeft(a + x + t + (c & ~d) + (b & d), s);
}
inline uint32_t stepH(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t,
                      int s) {
  return b + rotateLeft(a + x + t + (b ^ c ^ d), s);
}
inline uint32_t stepI(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t,
                      int s) {
  return b + rotateLeft(a + x + t + (c ^ (b | ~d)), s);
}

// Hashes count whole blocks where they lie: nothing is copied.
void hashBlocks(uint32_t words[4], const unsigned char* block, size_t count) {
  uint32_t a = words[0], b = words[1], c = words[2], d = words[3];
  for (; count > 0; --count, block += 64) {
    const uint32_t startA = a, startB = b, startC = c, startD = d;

    a = stepF(a, b, c, d, word(block, 0), 0xd76aa478, 7);
    d = stepF(d, a, b, c, word(block, 1), 0xe8c7b756, 12);
    c = stepF(c, d, a, b, word(block, 2), 0x242070db, 17);
    b = stepF(b, c, d, a, word(block, 3), 0xc1bdceee, 22);
    a = stepF(a, b, c, d, word(block, 4), 0xf57c0faf, 7);
    d = stepF(d, a, b, c, word(block, 5), 0x4787c62a, 12);
    c = stepF(c, d, a, b, word(block, 6), 0xa8304613, 17);
    b = stepF(b, c, d, a, word(block, 7), 0xfd469501, 22);
    a = stepF(a, b, c, d, word(block, 8), 0x698098d8, 7);
    d = stepF(d, a, b, c, word(block, 9), 0x8b44f7af, 12);
    c = stepF(c, d, a, b, word(block, 10), 0xffff5bb1, 17);
    b = stepF(b, c, d, a, word(block, 11), 0x895cd7be, 22);
    a = stepF(a, b, c, d, word(block, 12), 0x6b901122, 7);
    d = stepF(d, a, b, c, word(block, 13), 0xfd987193, 12);
    c = stepF(c, d, a, b, word(block, 14), 0xa679438e, 17);
    b = stepF(b, c, d, a, word(block, 15), 0x49b40821, 22);

    a = stepG(a, b, c, d, word(block, 1), 0xf61e2562, 5);
    d = stepG(d, a, b, c, word(block, 6), 0xc040b340, 9);
    c = stepG(c, d, a, b, word(block, 11), 0x265e5a51, 14);
    b = stepG(b, c, d, a, word(block, 0), 0xe9b6c7aa, 20);
    a = stepG(a, b, c, d, word(block, 5), 0xd62f105d, 5);
    d = stepG(d, a, b, c, word(block, 10), 0x02441453, 9);
    c = stepG(c, d, a, b, word(block, 15), 0xd8a1e681, 14);
    b = stepG(b, c, d, a, word(block, 4), 0xe7d3fbc8, 20);
    a = stepG(a, b, c, d, word(block, 9), 0x21e1cde6, 5);
    d = stepG(d, a, b, c, word(block, 14), 0xc33707d6, 9);
    c = stepG(c, d, a, b, word(block, 3), 0xf4d50d87, 14);
    b = stepG(b, c, d, a, word(block, 8), 0x455a14ed, 20);
    a = stepG(a, b, c, d, word(block, 13), 0xa9e3e905, 5);
    d = stepG(d, a, b, c, word(block, 2), 0xfcefa3f8, 9);
    c = stepG(c, d, a, b, word(block, 7), 0x676f02d9, 14);
    b = stepG(b, c, d, a, word(block, 12), 0x8d2a4c8a, 20);

    a = stepH(a, b, c, d, word(block, 5), 0xfffa3942, 4);
    d = stepH(d, a, b, c, word(block, 8), 0x8771f681, 11);
    c = stepH(c, d, a, b, word(block, 11), 0x6d9d6122, 16);
    b = stepH(b, c, d, a, word(block, 14), 0xfde5380c, 23);
    a = stepH(a, b, c, d, word(block, 1), 0xa4beea44, 4);
    d = stepH(d, a, b, c, word(block, 4), 0x4bdecfa9, 11);
    c = stepH(c, d, a, b, word(block, 7), 0xf6bb4b60, 16);
    b = stepH(b, c, d, a, word(block, 10), 0xbebfbc70, 23);
    a = stepH(a, b, c, d, word(block, 13), 0x289b7ec6, 4);
    d = stepH(d, a, b, c, word(block, 0), 0xeaa127fa, 11);
    c = stepH(c, d, a, b, word(block, 3), 0xd4ef3085, 16);
    b = stepH(b, c, d, a, word(block, 6), 0x04881d05, 23);
    a = stepH(a, b, c, d, word(block, 9), 0xd9d4d039, 4);
    d = stepH(d, a, b, c, word(block, 12), 0xe6db99e5, 11);
    c = stepH(c, d, a, b, word(block, 15), 0x1fa27cf8, 16);
    b = stepH(b, c, d, a, word(block, 2), 0xc4ac5665, 23);

    a = stepI(a, b, c, d, word(block, 0), 0xf4292244, 6);
    d = stepI(d, a, b, c, word(block, 7), 0x432aff97, 10);
    c = stepI(c, d, a, b, word(block, 14), 0xab9423a7, 15);
    b = stepI(b, c, d, a, word(block, 5), 0xfc93a039, 21);
    a = stepI(a, b, c, d, word(block, 12), 0x655b59c3, 6);
    d = stepI(d, a, b, c, word(block, 3), 0x8f0ccc92, 10);
    c = stepI(c, d, a, b, word(block, 10), 0xffeff47d, 15);
    b = stepI(b, c, d, a, word(block, 1), 0x85845dd1, 21);
    a = stepI(a, b, c, d, word(block, 8), 0x6fa87e4f, 6);
    d = stepI(d, a, b, c, word(block, 15), 0xfe2ce6e0, 10);
    c = stepI(c, d, a, b, word(block, 6), 0xa3014314, 15);
    b = stepI(b, c, d, a, word(block, 13), 0x4e0811a1, 21);
    a = stepI(a, b, c, d, word(block, 4), 0xf7537e82, 6);
    d = stepI(d, a, b, c, word(block, 11), 0xbd3af235, 10);
    c = stepI(c, d, a, b, word(block, 2), 0x2ad7d2bb, 15);
    b = stepI(b, c, d, a, word(block, 9), 0xeb86d391, 21);

    a += startA;
    b += startB;
    c += startC;
    d += startD;
  }
  words[0] = a;
  words[1] = b;
  words[2] = c;
  words[3] = d;
}

}  // namespace

Md5State md5Begin() {
  Md5State state;
  state.words[0] = 0x67452301;
  state.words[1] = 0xefcdab89;
  state.words[2] = 0x98badcfe;
  state.words[3] = 0x10325476;
  state.length = 0;
  return state;
}

void md5Add(Md5State* state, const void* data, size_t size) {
  if (size == 0) return;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const size_t held = static_cast<size_t>(state->length % 64);
  state->length += size;
  if (held > 0) {
    const size_t taken = size < 64 - held ? size : 64 - held;
    memcpy(state->pending + held, bytes, taken);
    if (held + taken < 64) return;
    hashBlocks(state->words, state->pending, 1);
    bytes += taken;
    size -= taken;
  }
  hashBlocks(state->words, bytes, size / 64);
  memcpy(state->pending, bytes + size / 64 * 64, size % 64);
}

void md5Finish(Md5State* state, unsigned char digest[16]) {
  const uint64_t bits = state->length * 8;
  size_t held = static_cast<size_t>(state->length % 64);
  state->pending[held++] = 0x80;
  if (held > 56) {
    memset(state->pending + held, 0, 64 - held);
    hashBlocks(state->words, state->pending, 1);
    held = 0;
  }
  memset(state->pending + held, 0, 56 - held);
  for (int i = 0; i < 8; ++i) state->pending[56 + i] = static_cast<unsigned char>(bits >> (8 * i));
  hashBlocks(state->words, state->pending, 1);
  for (int i = 0; i < 16; ++i)
    digest[i] = static_cast<unsigned char>(state->words[i / 4] >> (8 * (i % 4)));
}
