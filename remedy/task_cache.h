// Removing a task from the scheduler's registry cache.
#ifndef VORKELBRAITH_REMEDY_TASK_CACHE_H_
#define VORKELBRAITH_REMEDY_TASK_CACHE_H_

#include "tasks/task_definition.h"

extern const char TaskCacheBase[];

/// Finds the task's Tree key and, through its Id, its Tasks key; shows both,
/// asks, and deletes both after a yes. Reports every outcome on the console.
void removeTaskCacheEntries(const TaskRecord& record);

#endif  // VORKELBRAITH_REMEDY_TASK_CACHE_H_
