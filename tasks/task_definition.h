// Reading one Task Scheduler definition file.
#ifndef VORKELBRAITH_TASKS_TASK_DEFINITION_H_
#define VORKELBRAITH_TASKS_TASK_DEFINITION_H_

#include <string>

// The task's registered name and its first program action, as UTF-8; each
// field is empty when the definition does not have it.
struct TaskRecord {
  std::string uri;
  std::string command;
  std::string arguments;
};

/// Never fails: a file that cannot be read or parsed gives empty fields.
TaskRecord readTaskDefinition(const std::string& path);

#endif  // VORKELBRAITH_TASKS_TASK_DEFINITION_H_
