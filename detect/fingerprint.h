// MD5 fingerprint of a whole file, as text.
#ifndef VORKEL_DETECT_FINGERPRINT_H_
#define VORKEL_DETECT_FINGERPRINT_H_

#include <stdint.h>

#include <string>

#include "platform/platform.h"

/// The MD5 of zero bytes.
extern const char EmptyMd5[];

/// A file's MD5, or why it has none.
struct Fingerprint {
  std::string md5;  // 32 lower-case hexadecimal digits; "" unless unread.failure is None
  WhyUnread unread = {};  // as platformOpenFile gives it, or Refused with the read's code
};
/// The fingerprint of the file a command line naming path starts
/// (platformPathAsRun). A file that cannot be read whole is Refused, with
/// the read's code, or ErrorCutShort when it ends before its size.
Fingerprint fileFingerprint(const std::string& path);
/// The same for a file already open (size bytes from where it stands).
Fingerprint openFileFingerprint(PlatformFile* file, uint64_t size);
/// A 16-byte digest as 32 lower-case hexadecimal digits.
std::string md5Hex(const unsigned char digest[16]);

#endif  // VORKEL_DETECT_FINGERPRINT_H_
