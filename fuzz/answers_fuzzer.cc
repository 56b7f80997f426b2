// Arbitrary standard input against a run of y/n questions. Each answer must
// follow the rule on its own terms: blanks are skipped, one byte is taken,
// only Y or y is yes, and past the end every answer is no. Nothing may be
// read ahead, so the input's offset after the questions is checked too.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "console/console.h"
#include "fuzz/scratch.h"

namespace {

const int Questions = 8;
int inputFile = -1;
int savedStdin = -1;

bool isBlank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string path = scratchFolder() + "/stdin";
  inputFile = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  savedStdin = dup(STDIN_FILENO);
  if (inputFile < 0 || savedStdin < 0) {
    perror(path.c_str());
    exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rewrite(inputFile, data, size);
  if (lseek(inputFile, 0, SEEK_SET) != 0 || dup2(inputFile, STDIN_FILENO) < 0) abort();
  size_t at = 0;
  for (int question = 0; question < Questions; ++question) {
    while (at < size && isBlank(data[at])) ++at;
    const bool expected = at < size && (data[at] == 'Y' || data[at] == 'y');
    if (at < size) ++at;
    if (askYesNo() != expected) {
      fprintf(stderr, "answer %d: expected %s\n", question + 1, expected ? "yes" : "no");
      abort();
    }
  }
  const off_t consumed = lseek(STDIN_FILENO, 0, SEEK_CUR);
  if (consumed != static_cast<off_t>(at)) {
    fprintf(stderr, "read %lld bytes of input, the answers need %zu\n",
            static_cast<long long>(consumed), at);
    abort();
  }
  if (dup2(savedStdin, STDIN_FILENO) < 0) abort();
  return 0;
}
