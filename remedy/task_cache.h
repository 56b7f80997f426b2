// Removing a task from the scheduler's registry cache.
#ifndef VORKELBRAITH_REMEDY_TASK_CACHE_H_
#define VORKELBRAITH_REMEDY_TASK_CACHE_H_

#include <string>

#include "platform/platform.h"
#include "record/run_record.h"
#include "tasks/task_definition.h"

extern const char TaskCacheBase[];

/// What became of one task's two cache keys.
struct CacheRemoval {
  std::string treeKey;   // below HKEY_LOCAL_MACHINE
  long openResult = 0;   // opening the Tree key: 0, or the system's code
  std::string tasksKey;  // "" when the Tree key holds no usable Id
  bool confirmed = false;  // both keys were shown and the user said yes
  KeyDeletion tree, tasks;  // the deletions, when confirmed
};

/// Finds the task's Tree key and, through its Id, its Tasks key; shows both,
/// asks, and after a yes backs both up and deletes them. Reports every
/// outcome on the console and in the run's record, and returns them.
CacheRemoval removeTaskCacheEntries(const TaskRecord& record, RunRecord* runRecord);

#endif  // VORKELBRAITH_REMEDY_TASK_CACHE_H_
