// The tool's file fingerprint alone, for timing against md5sum:
//   vorkel-fingerprint FILE  prints the MD5 the tool computes for FILE.
#include <stdio.h>

#include "detect/fingerprint.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: vorkel-fingerprint FILE\n");
    return 2;
  }
  const std::string digest = fileFingerprint(argv[1]).md5;
  printf("%s  %s\n", digest.c_str(), argv[1]);
  return digest.empty() ? 1 : 0;
}
