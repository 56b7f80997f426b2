// Reading one Task Scheduler definition file.
#ifndef VORKEL_TASKS_TASK_DEFINITION_H_
#define VORKEL_TASKS_TASK_DEFINITION_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"

/// A program the task starts, as UTF-8.
struct TaskAction {
  std::string command;
  std::string arguments;
};

// The task's registered name and its program actions, as UTF-8; each field
// is empty when the definition does not have it. command and arguments are
// the first action's, which the report shows.
struct TaskRecord {
  std::string uri;
  std::string command;
  std::string arguments;
  std::vector<TaskAction> actions;  // every Exec, in order
  // Why the definition's bytes could not be had (platformOpenFile's, or
  // Refused with the read's code or ErrorCutShort); failure is None when
  // they were read, whether or not they parsed.
  WhyUnread unread = {};
  bool parsed = false;  // the bytes were read and are a well-formed document
};

/// Never fails: a file that cannot be read or parsed gives empty fields,
/// and one that cannot be read says why.
TaskRecord readTaskDefinition(const std::string& path);

#endif  // VORKEL_TASKS_TASK_DEFINITION_H_
