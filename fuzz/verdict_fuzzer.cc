// A task's actions, commands and argument lines from the fuzzer, judged on a
// scratch machine where the named file may be the payload, another file,
// empty, a folder, a FIFO, a link or missing. The verdict must match the
// rule worked out here independently: the first action with cmd.exe in the
// command (any case), ".exe" in the arguments, and the named file a regular
// file whose MD5 is the payload's, the file found as Windows finds it ("."
// and ".." resolved, never above the drive, so nothing outside the scratch
// machine is read).
//
// Input: each action's command and argument line, each followed by a NUL (a
// definition's text never holds one); a last argument line may be missing.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "detect/executable_path.h"
#include "detect/fingerprint.h"
#include "detect/verdict.h"
#include "fuzz/scratch.h"

namespace {

std::string standInPayload() {
  std::ifstream in(VORKEL_STAND_IN_PAYLOAD, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    fprintf(stderr, "cannot read %s\n", VORKEL_STAND_IN_PAYLOAD);
    exit(2);
  }
  return bytes;
}

void put(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      fclose(file) != 0 || chmod(path.c_str(), mode) != 0) {
    perror(path.c_str());
    exit(2);
  }
}

/// MD5 of a regular file as lower-case hex, "" when there is none. A link
/// in the last part is not read through, as Windows' reparse points are not.
std::string md5OfFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return std::string();
  struct stat info;
  std::string bytes;
  bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char buffer[4096];
  for (ssize_t got; regular && (got = read(fd, buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<size_t>(got));
  close(fd);
  if (!regular) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1 ||
      length != 16)
    abort();
  return md5Hex(digest);
}

/// Where Windows finds a drive path: "." names are dropped and ".." takes
/// back the name before it, never the drive ("C:\..\a\.\b" is "C:\a\b").
/// The machine is the working folder, so the drive is the folder "C:".
std::string machinePath(const std::string& windowsPath) {
  std::vector<std::string> names;
  size_t start = 3;  // past "X:\"
  while (start <= windowsPath.size()) {
    size_t end = std::min(windowsPath.find('\\', start), windowsPath.size());
    const std::string name = windowsPath.substr(start, end - start);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (name != ".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  std::string path = windowsPath.substr(0, 2);
  for (const std::string& name : names) path += "/" + name;
  return names.empty() ? path + "/" : path;
}

bool expectedVerdict(const std::string& command, const std::string& arguments) {
  std::string lowered = command;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (lowered.find("cmd.exe") == std::string::npos) return false;
  if (arguments.find(".exe") == std::string::npos) return false;
  const std::string path = extractExecutablePath(arguments);
  return !path.empty() && md5OfFile(machinePath(path)) == KnownPayloadMd5;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string root = scratchFolder();
  const std::string payload = standInPayload();
  if (mkdir((root + "/C:").c_str(), 0755) != 0 || mkdir((root + "/C:/p").c_str(), 0755) != 0 ||
      mkdir((root + "/C:/p/dir.exe").c_str(), 0755) != 0 ||
      mkdir((root + "/d:").c_str(), 0755) != 0 ||
      mkfifo((root + "/C:/p/fifo.exe").c_str(), 0644) != 0 ||
      symlink("a.exe", (root + "/C:/p/link.exe").c_str()) != 0) {
    perror(root.c_str());
    exit(2);
  }
  put(root + "/C:/p/a.exe", payload);
  put(root + "/C:/p/ro.exe", payload, 0444);
  put(root + "/C:/p/a b.exe", payload);
  put(root + "/d:/x.exe", payload);
  put(root + "/C:/p/b.exe", payload + "\n");
  put(root + "/C:/p/empty.exe", "");
  put(root + "/C:/p/locked.exe", payload, 0);
  if (chdir(root.c_str()) != 0) {
    perror(root.c_str());
    exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  TaskRecord record;
  for (size_t at = 0, field = 0; at < input.size(); ++field) {
    const size_t end = std::min(input.find('\0', at), input.size());
    if (field % 2 == 0) record.actions.push_back({input.substr(at, end - at), ""});
    else record.actions.back().arguments = input.substr(at, end - at);
    at = end + 1;
  }
  size_t expected = 0;
  while (expected < record.actions.size() &&
         !expectedVerdict(record.actions[expected].command, record.actions[expected].arguments))
    ++expected;
  const TaskVerdict verdict = judgeTask(record);
  const bool dangerous = expected < record.actions.size();
  if (verdict.dangerous != dangerous ||
      (dangerous && (verdict.action != expected ||
                     verdict.command != record.actions[expected].command ||
                     verdict.arguments != record.actions[expected].arguments))) {
    fprintf(stderr, "verdict: expected %s (action %zu), judged %s (action %zu) of %zu actions\n",
            dangerous ? "dangerous" : "harmless", expected,
            verdict.dangerous ? "dangerous" : "harmless", verdict.action, record.actions.size());
    for (const TaskAction& action : record.actions)
      fprintf(stderr, "  command \"%s\" arguments \"%s\"\n", action.command.c_str(),
              action.arguments.c_str());
    abort();
  }
  return 0;
}
