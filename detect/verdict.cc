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

bool containsCaseless(const std::string& text, const char* lowerNeedle) {
  std::string lowered = text;
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lowered.find(lowerNeedle) != std::string::npos;
}

}  // namespace

bool isDangerousTask(const TaskRecord& record) {
  if (record.command.empty()) return false;
  if (!containsCaseless(record.command, "cmd.exe")) return false;
  if (record.arguments.find(".exe") == std::string::npos) return false;
  std::string digest = fileMd5Hex(extractExecutablePath(record.arguments));
  return digest.size() == 32 && digest == KnownPayloadMd5;
}
