// Scanning the task store and reporting the dangerous tasks.
#ifndef VORKELBRAITH_APP_SCAN_PASS_H_
#define VORKELBRAITH_APP_SCAN_PASS_H_

#include <string>
#include <vector>

#include "tasks/task_definition.h"

/// The dangerous tasks, in the order the scan found them.
typedef std::vector<TaskRecord> DangerList;

/// The scheduler's folder of task definitions.
std::string taskStoreRoot();

/// Returns the list when it is empty or the user agreed to remove it; ends
/// the process with status 0 when the user declines.
DangerList runScanPass();

#endif  // VORKELBRAITH_APP_SCAN_PASS_H_
