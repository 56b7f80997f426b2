// Whether a task is the threat.
#ifndef VORKEL_DETECT_VERDICT_H_
#define VORKEL_DETECT_VERDICT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tasks/task_definition.h"

/// MD5 of the threat's executable.
extern const char KnownPayloadMd5[];

/// Whether a fingerprint's digest (fileFingerprint) is the threat's.
bool isKnownPayloadMd5(const std::string& digest);

/// What judging a task's actions found. When dangerous, the action that
/// matched, its executable and digest; otherwise executable and md5 are
/// those of the last action whose file was looked for.
struct TaskVerdict {
  bool dangerous = false;
  size_t action = 0;  // the matching action's place in the list, from 0
  std::string command;
  std::string arguments;
  std::string executable;  // the path the argument line names, when it was looked for
  std::string md5;         // that file's fingerprint, when it was computed
  // Why that file has no fingerprint, when it was looked for and could not
  // be read: its content is unknown, not clean.
  WhyUnread unread = {};
};

/// Dangerous when any action runs cmd.exe with an argument line naming an
/// .exe whose content is the known payload; the first such action is the
/// one that matched. A file is opened only for an action that passes the
/// textual tests, and none after the first match.
TaskVerdict judgeActions(const std::vector<TaskAction>& actions);
/// judgeActions of the record's actions.
TaskVerdict judgeTask(const TaskRecord& record);

#endif  // VORKEL_DETECT_VERDICT_H_
