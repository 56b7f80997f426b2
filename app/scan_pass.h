// Scanning the task store and reporting the dangerous tasks.
#ifndef VORKEL_APP_SCAN_PASS_H_
#define VORKEL_APP_SCAN_PASS_H_

#include <string>
#include <vector>

#include "record/run_record.h"
#include "tasks/task_definition.h"

/// A task the scan judged dangerous, with what the verdict rested on.
struct DangerousTask {
  TaskRecord task;
  std::string definitionPath;  // its definition file; for a task only the registry
                               // has, its Tree key (HKEY_LOCAL_MACHINE\...)
  // "\" and the definition's path below the task store: the name the
  // scheduler gives the task's keys, whatever the definition's URI says.
  std::string taskPath;
  // task.command and task.arguments are the action that matched.
  std::string executable;  // the file the verdict fingerprinted
  std::string md5;         // and its digest
};

/// The dangerous tasks, in the order the scan found them.
typedef std::vector<DangerousTask> DangerList;

struct ScanResult {
  DangerList dangers;
  bool removalDeclined = false;  // the user said no to the list: the run ends
  int unjudged = 0;              // what the scan could not read, named as it went
};
/// Scans, reports and lists the dangerous tasks and asks whether to remove
/// them (not when there are none). Each step goes into the run's record.
ScanResult runScanPass(const std::string& systemRoot, const RunRecord& runRecord);

#endif  // VORKEL_APP_SCAN_PASS_H_
