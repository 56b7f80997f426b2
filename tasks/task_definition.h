// Reading one Task Scheduler definition file.
#ifndef VORKELBRAITH_TASKS_TASK_DEFINITION_H_
#define VORKELBRAITH_TASKS_TASK_DEFINITION_H_

#include <string>
#include <vector>

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
};

/// Never fails: a file that cannot be read or parsed gives empty fields.
TaskRecord readTaskDefinition(const std::string& path);

#endif  // VORKELBRAITH_TASKS_TASK_DEFINITION_H_
