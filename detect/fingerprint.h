// MD5 fingerprint of a whole file, as text.
#ifndef VORKELBRAITH_DETECT_FINGERPRINT_H_
#define VORKELBRAITH_DETECT_FINGERPRINT_H_

#include <stdint.h>

#include <string>

#include "platform/platform.h"

/// The MD5 of zero bytes.
extern const char EmptyMd5[];

/// 32 lower-case hexadecimal digits for the file a command line naming path
/// starts (platformPathAsRun), or "" when it cannot be opened or read whole.
std::string fileMd5Hex(const std::string& path);
/// The same for a file already open (size bytes from where it stands).
std::string openFileMd5Hex(PlatformFile* file, uint64_t size);
/// A 16-byte digest as 32 lower-case hexadecimal digits.
std::string md5Hex(const unsigned char digest[16]);

#endif  // VORKELBRAITH_DETECT_FINGERPRINT_H_
