// The tool's MD5 against OpenSSL's. OpenSSL hashes the input whole; ours
// takes it in pieces, each as long as the byte it starts with says: up to
// 127 bytes as they are, a byte of 0 first adds an empty piece and then
// that one byte, and above 127 a multiple of 61 bytes, so that pieces run
// over many blocks and end anywhere in one.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <openssl/evp.h>

#include "detect/fingerprint.h"
#include "detect/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Md5State state = md5Begin();
  for (size_t at = 0; at < size;) {
    size_t piece = data[at] < 128 ? data[at] : (data[at] - 127) * size_t(61);
    if (piece == 0) {
      md5Add(&state, data + at, 0);
      piece = 1;
    }
    if (piece > size - at) piece = size - at;
    md5Add(&state, data + at, piece);
    at += piece;
  }
  unsigned char ours[16];
  md5Finish(&state, ours);

  unsigned char theirs[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, theirs, &length, EVP_md5(), nullptr) != 1 || length != 16) {
    fprintf(stderr, "md5: OpenSSL gave no digest\n");
    abort();
  }
  if (memcmp(ours, theirs, 16) != 0) {
    fprintf(stderr, "md5: %zu bytes: ours %s, OpenSSL's %s\n", size, md5Hex(ours).c_str(),
            md5Hex(theirs).c_str());
    abort();
  }
  return 0;
}
