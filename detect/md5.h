// MD5 (RFC 1321), computed here rather than asked of the system: the
// system's cryptographic service is chosen by settings any program of the
// user may change, and a fingerprint must not depend on them.
#ifndef VORKEL_DETECT_MD5_H_
#define VORKEL_DETECT_MD5_H_

#include <stddef.h>
#include <stdint.h>

/// A hash under way: the four words so far, the bytes added, and those not
/// yet making up a whole 64-byte block.
struct Md5State {
  uint32_t words[4];
  uint64_t length;
  unsigned char pending[64];
};

Md5State md5Begin();
/// Adds size bytes; whole blocks are hashed straight from data.
void md5Add(Md5State* state, const void* data, size_t size);
/// Pads, hashes the rest and writes the digest; the state is used up.
void md5Finish(Md5State* state, unsigned char digest[16]);

#endif  // VORKEL_DETECT_MD5_H_
