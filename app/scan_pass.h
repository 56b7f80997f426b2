// Scanning the task store and reporting the dangerous tasks.
#ifndef VORKELBRAITH_APP_SCAN_PASS_H_
#define VORKELBRAITH_APP_SCAN_PASS_H_

#include <string>
#include <vector>

#include "record/run_record.h"
#include "tasks/task_definition.h"

/// The dangerous tasks, in the order the scan found them.
typedef std::vector<TaskRecord> DangerList;

/// The scheduler's folder of task definitions.
std::string taskStoreRoot();

struct ScanResult {
  DangerList dangers;
  bool removalDeclined = false;  // the user said no to the list: the run ends
};
/// Scans, reports and lists the dangerous tasks and asks whether to remove
/// them (not when there are none). Each step goes into the run's record.
ScanResult runScanPass(const RunRecord& runRecord);

#endif  // VORKELBRAITH_APP_SCAN_PASS_H_
