// A scratch folder for one fuzzing process, removed again at exit.
#ifndef VORKEL_FUZZ_SCRATCH_H_
#define VORKEL_FUZZ_SCRATCH_H_

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

/// A fresh folder under $TMPDIR (else /dev/shm or /tmp); an absolute POSIX path, so the
/// platform layer's backslash mapping leaves it alone. Exits on failure.
inline const std::string& scratchFolder() {
  // Never destroyed, so the exit handler that removes it can still read it.
  static const std::string* folder = [] {
    // Memory-backed where there is one: rewriting a file on disk for every
    // input costs more than the code under test.
    const char* base = getenv("TMPDIR");
    if (base == nullptr || *base == '\0')
      base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/vorkel-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
      perror("mkdtemp");
      exit(2);
    }
    return new std::string(name.data());
  }();
  static const bool removedAtExit = atexit([] {
    std::string command = "rm -rf '" + scratchFolder() + "'";
    if (system(command.c_str()) != 0) return;
  }) == 0;
  (void)removedAtExit;
  return *folder;
}

/// Replaces the whole content of an open file.
inline void rewrite(int fd, const unsigned char* data, size_t size) {
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    perror("scratch file");
    abort();
  }
}

#endif  // VORKEL_FUZZ_SCRATCH_H_
