#include "detect/fingerprint.h"

#include "detect/md5.h"
#include "platform/platform.h"

const char EmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

namespace {

// The file is hashed a piece at a time: any size, bounded memory. A piece
// small enough to stay in the processor's cache is hashed as fast as a
// larger one and costs nothing to set up for the many small files.
const size_t ChunkSize = 1 << 16;

bool hashWholeFile(PlatformFile* file, uint64_t size, unsigned char digest[16]) {
  Md5State md5 = md5Begin();
  unsigned char chunk[ChunkSize];
  uint64_t remaining = size;
  bool ok = true;
  while (ok && remaining > 0) {
    size_t wanted = remaining < ChunkSize ? static_cast<size_t>(remaining) : ChunkSize;
    int64_t got = platformReadFile(file, chunk, wanted);
    // A file that gives fewer bytes than it had at the open has no
    // fingerprint.
    ok = got > 0;
    if (ok) {
      md5Add(&md5, chunk, static_cast<size_t>(got));
      remaining -= static_cast<uint64_t>(got);
    }
  }
  if (ok) md5Finish(&md5, digest);
  return ok;
}

}  // namespace

// The path comes from a task's argument line: the file is the one the
// system starts for it, not a name that only looks the same.
std::string fileMd5Hex(const std::string& path) {
  uint64_t size = 0;
  PlatformFile* file = platformOpenFile(platformPathAsRun(path), &size);
  if (file == nullptr) return std::string();
  std::string digest = openFileMd5Hex(file, size);
  platformCloseFile(file);
  return digest;
}

std::string openFileMd5Hex(PlatformFile* file, uint64_t size) {
  if (size == 0) return EmptyMd5;
  unsigned char digest[16];
  if (!hashWholeFile(file, size, digest)) return std::string();
  return md5Hex(digest);
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
