#include "detect/verdict.h"

#include <string.h>

#include <utility>

#include "detect/executable_path.h"
#include "detect/fingerprint.h"

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

TaskVerdict judgeTask(const TaskRecord& record) {
  TaskVerdict verdict;
  if (record.command.empty()) return verdict;
  if (!containsCaseless(record.command, "cmd.exe")) return verdict;
  if (record.arguments.find(".exe") == std::string::npos) return verdict;
  verdict.executable = extractExecutablePath(record.arguments);
  Fingerprint fingerprint = fileFingerprint(verdict.executable);
  verdict.md5 = std::move(fingerprint.md5);
  verdict.failure = fingerprint.failure;
  verdict.error = fingerprint.error;
  verdict.reparseTag = fingerprint.reparseTag;
  verdict.attributes = fingerprint.attributes;
  verdict.dangerous = isKnownPayloadMd5(verdict.md5);
  return verdict;
}

bool isDangerousTask(const TaskRecord& record) { return judgeTask(record).dangerous; }
