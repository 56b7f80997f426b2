// Removing the executable a dangerous task starts.
#ifndef VORKELBRAITH_REMEDY_PAYLOAD_H_
#define VORKELBRAITH_REMEDY_PAYLOAD_H_

#include "tasks/task_definition.h"

/// Asks, then deletes the file named in the task's argument line.
void removePayloadFile(const TaskRecord& record);

#endif  // VORKELBRAITH_REMEDY_PAYLOAD_H_
