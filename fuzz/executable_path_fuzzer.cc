// The path extractor against the expression it replaced. For lines short
// enough for std::regex (it recurses per character) the two must pick the
// same text; for every line the result must be a drive-rooted piece of it,
// and the call must return (libFuzzer's timeout catches a slow one).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <regex>
#include <string>

#include "detect/executable_path.h"

namespace {

const char Pattern[] =
    R"RE("([A-Za-z]:\\[^ "]+)"|([A-Za-z]:\\(?:[^\\/:*?"<>|\r\n]+\\)*[^\\/:*?"<>|\r\n]+))RE";
const size_t RegexLimit = 500;

std::string regexExecutablePath(const std::string& s) {
  static const std::regex re(Pattern, std::regex::icase);
  std::smatch m;
  if (!std::regex_search(s, m, re)) return std::string();
  if (m[1].matched) return m[1].str();
  if (m[2].matched) return m[2].str();
  return std::string();
}

bool hasDriveRoot(const std::string& s) {
  return s.size() >= 4 &&
         ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) &&
         s[1] == ':' && s[2] == '\\';
}

void printEscaped(const char* label, const std::string& s) {
  fprintf(stderr, "%s \"", label);
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') fprintf(stderr, "\\%c", c);
    else if (c >= 0x20 && c < 0x7F) fputc(c, stderr);
    else fprintf(stderr, "\\x%02X\"\"", c);
  }
  fprintf(stderr, "\"\n");
}

[[noreturn]] void mismatch(const char* what, const std::string& line,
                           const std::string& expected, const std::string& got) {
  fprintf(stderr, "executable path: %s\n", what);
  printEscaped("  line: ", line);
  printEscaped("  regex:", expected);
  printEscaped("  got:  ", got);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string path = extractExecutablePath(line);
  if (!path.empty() && (!hasDriveRoot(path) || line.find(path) == std::string::npos))
    mismatch("not a drive-rooted piece of the line", line, "", path);
  if (size < RegexLimit) {
    const std::string expected = regexExecutablePath(line);
    if (expected != path) mismatch("differs from the expression", line, expected, path);
  }
  return 0;
}
