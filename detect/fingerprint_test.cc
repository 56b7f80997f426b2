#include "detect/fingerprint.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_checks.h"
#include "tests/test_support.h"

namespace {

std::string pseudoRandomBytes(size_t size) {
  std::mt19937 generator(20240314);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

std::string md5sumOf(const std::string& path) {
  ProcessResult result = runProcess({"md5sum", path}, "", "");
  EXPECT_EQ(0, result.status) << result.err;
  return result.out.substr(0, 32);
}

}  // namespace

TEST(Fingerprint, MatchesIndependentDigests) {
  ScopedTempDir folder;
  const std::string path = folder.path + "/file";
  EXPECT_EQ(md5Of(""), EmptyMd5);
  const struct { std::string bytes; const char* digest; } vectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
  };
  for (const auto& v : vectors) {
    writeFile(path, v.bytes);
    EXPECT_EQ(v.digest, fileFingerprint(path).md5) << v.bytes;
  }
  // Either side of the 64 KiB pieces the file is read in.
  const size_t Piece = 64 << 10, MiB = 1 << 20;
  for (size_t size : {size_t(1), Piece - 1, Piece, Piece + 1, MiB + 1, 3 * MiB + 17}) {
    std::string bytes = pseudoRandomBytes(size);
    writeFile(path, bytes);
    EXPECT_EQ(md5Of(bytes), fileFingerprint(path).md5) << size;
  }
  EXPECT_EQ(md5sumOf(path), fileFingerprint(path).md5);
}

TEST(Fingerprint, KeepsLeadingZeroDigits) {
  std::string content;
  for (int i = 0; md5Of(content).compare(0, 1, "0") != 0; ++i)
    content = "leading zero " + std::to_string(i);
  ScopedTempDir folder;
  writeFile(folder.path + "/file", content);
  EXPECT_EQ(md5sumOf(folder.path + "/file"), fileFingerprint(folder.path + "/file").md5) << content;
}

// Each says why it has no digest. A link in the last part stands for one on
// Windows, which is not read through.
TEST(Fingerprint, GivesNothingForWhatIsNotARegularFile) {
  ScopedTempDir folder;
  makeFolders(folder.path + "/dir");
  writeFile(folder.path + "/short", "abc");
  ASSERT_EQ(0, symlink("missing", (folder.path + "/dangling").c_str()));
  ASSERT_EQ(0, symlink("short", (folder.path + "/link").c_str()));
  const struct { std::string path; FileFailure failure; long error; uint32_t tag; } cases[] = {
      {folder.path + "/missing", FileFailure::Missing, ErrorNotFound, 0},
      {folder.path + "/dir", FileFailure::NotAFile, ErrorSuccess, 0},
      {folder.path + "/dangling", FileFailure::ContentElsewhere, ErrorSuccess, ReparseTagSymlink},
      {folder.path + "/link", FileFailure::ContentElsewhere, ErrorSuccess, ReparseTagSymlink},
      {"", FileFailure::Missing, ErrorNotFound, 0},
  };
  for (const auto& c : cases) {
    const Fingerprint fingerprint = fileFingerprint(c.path);
    EXPECT_EQ("", fingerprint.md5) << c.path;
    EXPECT_EQ(c.failure, fingerprint.unread.failure) << c.path;
    EXPECT_EQ(c.error, fingerprint.unread.error) << c.path;
    EXPECT_EQ(c.tag, fingerprint.unread.reparseTag) << c.path;
  }
  // Fewer bytes than the size it had at the open: no digest of a part.
  const FileOpening opening = platformOpenFile(folder.path + "/short");
  ASSERT_TRUE(opening.file);
  const Fingerprint cut = openFileFingerprint(opening.file.get(), opening.size + 1);
  EXPECT_EQ("", cut.md5);
  EXPECT_EQ(FileFailure::Refused, cut.unread.failure);
  EXPECT_EQ(ErrorCutShort, cut.unread.error);

  // A FIFO with no writer: opening or reading it for good would never end.
  const std::string fifo = folder.path + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  std::future<Fingerprint> digest = std::async(std::launch::async, fileFingerprint, fifo);
  if (digest.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "fileFingerprint blocks on a FIFO";
    int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets it finish
    if (writer >= 0) close(writer);
  }
  EXPECT_EQ(FileFailure::NotAFile, digest.get().unread.failure);
}

TEST(Fingerprint, HashesSparseFileAboveFourGiB) {
  ScopedTempDir folder;
  const std::string path = folder.path + "/sparse";
  const off_t FourGiB = off_t(1) << 32;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  bool made = ftruncate(fd, FourGiB + (1 << 20) + 7) == 0 &&
              pwrite(fd, "head", 4, 0) == 4 &&
              pwrite(fd, "across", 6, FourGiB - 3) == 6 &&
              pwrite(fd, "tail", 4, FourGiB + (1 << 20) + 3) == 4;
  int error = errno;
  close(fd);
  if (skipped(made ? "" : std::string("this file system cannot hold the file: ") + strerror(error)))
    return;
  // md5sum works alongside: the two reads of the holes take a while.
  FILE* md5sum = popen(("md5sum '" + path + "'").c_str(), "r");
  ASSERT_NE(nullptr, md5sum);
  auto start = std::chrono::steady_clock::now();
  std::string digest = fileFingerprint(path).md5;
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  printf("fileFingerprint of a 4 GiB + 1 MiB file took %.1f s\n", took.count());
  char expected[33] = "";
  EXPECT_EQ(1, fscanf(md5sum, "%32s", expected));
  EXPECT_EQ(0, pclose(md5sum));
  EXPECT_EQ(expected, digest);
}
