// A task's two keys in the scheduler's registry cache: finding them, reading
// them for the backup and deleting them. Nothing here asks or shows; the
// clean-up pass does, from what these return.
#ifndef VORKEL_REMEDY_TASK_CACHE_H_
#define VORKEL_REMEDY_TASK_CACHE_H_

#include <string>

#include "platform/platform.h"
#include "record/run_record.h"
#include "tasks/registry_tasks.h"

/// The path the registry step goes by: the URI the definition states when
/// it names the task's own path (the scheduler's, from where the definition
/// lies below the task store), else that path. A definition chooses its
/// URI, and could name another task's keys with it.
std::string registryTaskPath(const std::string& uri, const std::string& taskPath);

/// What was found of one task's keys before the user is asked.
struct TaskCacheKeys {
  std::string treeKey;                // below HKEY_LOCAL_MACHINE
  long treeOpened = ErrorSuccess;     // opening it: the system's code, ErrorKeyIsLink
                                      // for a link, which is neither followed nor read
  std::string tasksKey;               // "" when the tree key holds no usable Id
};
/// The tree key of the task at taskPath ("\folder\name") and, through the
/// Id it holds, its tasks key.
TaskCacheKeys findTaskCacheKeys(const std::string& taskPath);

/// The key's values as they are now, for the backup; a link is not read.
KeySnapshot snapshotKey(const std::string& subKey);

/// The task a tasks key says it belongs to: its Path value, or "" when it
/// has none that can be read.
std::string tasksKeyOwner(const KeySnapshot& tasksKey);
/// Whether that Path names another task than the one at taskPath.
bool belongsToAnotherTask(const KeySnapshot& tasksKey, const std::string& taskPath);

/// Deletes one key, exactly the one named: a link is not followed.
KeyDeletion deleteCacheKey(const std::string& subKey);

#endif  // VORKEL_REMEDY_TASK_CACHE_H_
