// Prints what the Windows build's reader, extractor and fingerprint make of
// files, so that the native suites can compare them under Wine:
//   vorkel-probe read PATH | md5 PATH | path ARGUMENTS-FILE | list FOLDER
// Each answer goes to standard output as raw bytes.
#include <string.h>

#include <string>

#include "detect/executable_path.h"
#include "detect/fingerprint.h"
#include "platform/platform.h"
#include "tasks/task_definition.h"
#include "tasks/task_store.h"

namespace {

void print(const std::string& text) {
  platformWrite(StdStream::Out, text.data(), text.size());
}

std::string wholeFile(const std::string& path) {
  uint64_t size = 0;
  std::string bytes;
  PlatformFile* file = platformOpenFile(path, &size);
  if (file == nullptr) return bytes;
  char chunk[65536];
  for (int64_t got; (got = platformReadFile(file, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<size_t>(got));
  platformCloseFile(file);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (strcmp(argv[1], "read") == 0) {
    TaskRecord record = readTaskDefinition(argv[2]);
    print(record.uri + '\0' + record.command + '\0' + record.arguments);
  } else if (strcmp(argv[1], "md5") == 0) {
    print(fileMd5Hex(argv[2]));
  } else if (strcmp(argv[1], "path") == 0) {
    print(extractExecutablePath(wholeFile(argv[2])));
  } else if (strcmp(argv[1], "list") == 0) {
    std::vector<std::string> files;
    collectTaskFiles(argv[2], &files);
    for (const std::string& file : files) print(file + '\n');
  } else {
    return 2;
  }
  return 0;
}
