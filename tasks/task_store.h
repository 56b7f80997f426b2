// Finding every task definition file below the scheduler's task folder.
#ifndef VORKELBRAITH_TASKS_TASK_STORE_H_
#define VORKELBRAITH_TASKS_TASK_STORE_H_

#include <string>
#include <vector>

/// Appends the full path of every non-directory entry below directory
/// (given without a trailing separator), depth first, each folder's files
/// where the folder stands among its siblings. A folder that cannot be
/// listed adds nothing.
void collectTaskFiles(const std::string& directory,
                      std::vector<std::string>* list);

#endif  // VORKELBRAITH_TASKS_TASK_STORE_H_
