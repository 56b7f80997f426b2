#include "detect/verdict.h"

#include <string.h>

#include "detect/executable_path.h"
#include "detect/fingerprint.h"

// A test build names the fingerprint of a stand-in payload instead; release
// builds never do.
#ifdef VORKELBRAITH_TEST_PAYLOAD_MD5
const char KnownPayloadMd5[] = VORKELBRAITH_TEST_PAYLOAD_MD5;
#else
const char KnownPayloadMd5[] = "6b6f44b7f013b9d7536005f234066047";
#endif

namespace {

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text holds lowerNeedle with ASCII letters in either case, looked
// for where the text lies rather than in a lowered copy of it.
bool containsCaseless(const std::string& text, const char* lowerNeedle) {
  const size_t length = strlen(lowerNeedle);
  for (size_t at = 0; at + length <= text.size(); ++at) {
    size_t i = 0;
    while (i < length && lowerAscii(text[at + i]) == lowerNeedle[i]) ++i;
    if (i == length) return true;
  }
  return false;
}

}  // namespace

bool isKnownPayloadMd5(const std::string& digest) {
  return digest.size() == 32 && digest == KnownPayloadMd5;
}

bool isDangerousTask(const TaskRecord& record) {
  if (record.command.empty()) return false;
  if (!containsCaseless(record.command, "cmd.exe")) return false;
  if (record.arguments.find(".exe") == std::string::npos) return false;
  return isKnownPayloadMd5(fileMd5Hex(extractExecutablePath(record.arguments)));
}
