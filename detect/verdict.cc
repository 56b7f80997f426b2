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

TaskVerdict judgeActions(const std::vector<TaskAction>& actions) {
  TaskVerdict verdict;
  for (size_t i = 0; i < actions.size(); ++i) {
    const TaskAction& action = actions[i];
    if (action.command.empty()) continue;
    if (!containsCaseless(action.command, "cmd.exe")) continue;
    if (action.arguments.find(".exe") == std::string::npos) continue;
    const std::string executable = extractExecutablePath(action.arguments);
    Fingerprint fingerprint = fileFingerprint(executable);
    if (isKnownPayloadMd5(fingerprint.md5)) {
      verdict = TaskVerdict();
      verdict.dangerous = true;
      verdict.action = i;
      verdict.command = action.command;
      verdict.arguments = action.arguments;
      verdict.executable = executable;
      verdict.md5 = std::move(fingerprint.md5);
      break;
    }
    // The first file that could not be read stays named: its content is
    // unknown, not clean.
    if (contentUnknown(verdict.unread)) continue;
    verdict.executable = executable;
    verdict.md5 = std::move(fingerprint.md5);
    verdict.unread = fingerprint.unread;
  }
  return verdict;
}

TaskVerdict judgeTask(const TaskRecord& record) { return judgeActions(record.actions); }
