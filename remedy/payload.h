// Removing the executable a dangerous task starts.
#ifndef VORKELBRAITH_REMEDY_PAYLOAD_H_
#define VORKELBRAITH_REMEDY_PAYLOAD_H_

#include "record/run_record.h"
#include "tasks/task_definition.h"

enum class PayloadOutcome {
  Kept,       // the user said no
  Deleted,
  Scheduled,  // in use: renamed, to be deleted when the machine restarts
  Failed,     // gone or refused
  Changed,    // no longer the file judged: left alone
};

/// Asks, then deletes the file named in the task's argument line, but only
/// while it is still the threat's executable. Reports on the console and in
/// the run's record, and returns what became of it.
PayloadOutcome removePayloadFile(const TaskRecord& record, const RunRecord& runRecord);

#endif  // VORKELBRAITH_REMEDY_PAYLOAD_H_
