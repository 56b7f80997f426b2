// Whether a task is the threat.
#ifndef VORKELBRAITH_DETECT_VERDICT_H_
#define VORKELBRAITH_DETECT_VERDICT_H_

#include <stdint.h>

#include <string>

#include "platform/platform.h"
#include "tasks/task_definition.h"

/// MD5 of the threat's executable.
extern const char KnownPayloadMd5[];

/// Whether a fingerprint's digest (fileFingerprint) is the threat's.
bool isKnownPayloadMd5(const std::string& digest);

/// What judging a task found.
struct TaskVerdict {
  bool dangerous = false;
  std::string executable;  // the path the argument line names, when it was looked for
  std::string md5;         // that file's fingerprint, when it was computed
  // Why that file has no fingerprint (Fingerprint's fields), when it was
  // looked for and could not be read: its content is unknown, not clean.
  FileFailure failure = FileFailure::None;
  long error = ErrorSuccess;
  uint32_t reparseTag = 0, attributes = 0;
};

/// The verdict of isDangerousTask, with the executable and the digest it
/// rests on.
TaskVerdict judgeTask(const TaskRecord& record);

/// True when the task runs cmd.exe with an argument line naming an .exe
/// whose content is the known payload. The file is opened only for tasks
/// that pass the textual tests.
bool isDangerousTask(const TaskRecord& record);

#endif  // VORKELBRAITH_DETECT_VERDICT_H_
