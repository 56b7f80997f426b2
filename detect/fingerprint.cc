#include "detect/fingerprint.h"

#include "detect/md5.h"
#include "platform/platform.h"

const char EmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

namespace {

// The file is hashed a piece at a time: any size, bounded memory. A piece
// small enough to stay in the processor's cache is hashed as fast as a
// larger one and costs nothing to set up for the many small files.
const size_t ChunkSize = 1 << 16;

// ErrorSuccess with the digest, or the code of what kept the file from
// being hashed whole.
long hashWholeFile(PlatformFile* file, uint64_t size, unsigned char digest[16]) {
  Md5State md5 = md5Begin();
  unsigned char chunk[ChunkSize];
  uint64_t remaining = size;
  long error = ErrorSuccess;
  while (error == ErrorSuccess && remaining > 0) {
    size_t wanted = remaining < ChunkSize ? static_cast<size_t>(remaining) : ChunkSize;
    const FileRead got = platformReadFile(file, chunk, wanted);
    // A file that gives fewer bytes than it had at the open has no
    // fingerprint.
    error = got.error != ErrorSuccess ? got.error : got.bytes == 0 ? ErrorCutShort : ErrorSuccess;
    if (error == ErrorSuccess) {
      md5Add(&md5, chunk, got.bytes);
      remaining -= got.bytes;
    }
  }
  if (error == ErrorSuccess) md5Finish(&md5, digest);
  return error;
}

}  // namespace

// The path comes from a task's argument line: the file is the one the
// system starts for it, not a name that only looks the same.
Fingerprint fileFingerprint(const std::string& path) {
  const FileOpening opening = platformOpenFile(platformPathAsRun(path));
  if (!opening.file) return {std::string(), opening.unread};
  return openFileFingerprint(opening.file.get(), opening.size);
}

Fingerprint openFileFingerprint(PlatformFile* file, uint64_t size) {
  Fingerprint fingerprint;
  unsigned char digest[16];
  const long error = size == 0 ? ErrorSuccess : hashWholeFile(file, size, digest);
  if (error != ErrorSuccess)
    fingerprint.unread = {FileFailure::Refused, error};
  else
    fingerprint.md5 = size == 0 ? EmptyMd5 : md5Hex(digest);
  return fingerprint;
}

std::string md5Hex(const unsigned char digest[16]) {
  const char* hexDigits = "0123456789abcdef";
  std::string text;
  text.reserve(32);
  for (int i = 0; i < 16; ++i) {
    text += hexDigits[digest[i] >> 4];
    text += hexDigits[digest[i] & 0x0f];
  }
  return text;
}
