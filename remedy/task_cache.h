// A task's two keys in the scheduler's registry cache: planned before the
// user is asked (each opened once, and held), read for the backup and
// deleted through what was opened. Nothing here asks or shows; the clean-up
// pass does, from what these return.
#ifndef VORKEL_REMEDY_TASK_CACHE_H_
#define VORKEL_REMEDY_TASK_CACHE_H_

#include <string>
#include <vector>

#include "platform/platform.h"
#include "record/run_record.h"
#include "tasks/registry_tasks.h"

/// The path the registry step goes by: the URI the definition states when
/// it names the task's own path (the scheduler's, from where the definition
/// lies below the task store), else that path. A definition chooses its
/// URI, and could name another task's keys with it.
std::string registryTaskPath(const std::string& uri, const std::string& taskPath);

/// One task's keys as found before the user is asked: each opened once to
/// be read and deleted, and held until the plan goes. What is backed up
/// and deleted later is exactly what was opened here, whatever takes its
/// name meanwhile.
struct KeysPlan {
  std::string treeKey;             // below HKEY_LOCAL_MACHINE
  long treeFound = ErrorSuccess;   // whether it could be read at all: the system's
                                   // code, ErrorKeyIsLink for a link (not followed)
  std::string tasksKey;            // "" when the tree key holds no usable Id
  std::string owner;               // the tasks key's Path, "" when it has none
  bool ownedByAnother = false;     // that Path names another task: the key is kept
  KeyOpenedToRemove tree, tasks;   // what deleting each will go through
};
/// The plan for the task at taskPath ("\folder\name"). A key an
/// administrator may only read is still read (its Id, its Path), and its
/// deletion is refused as its open was.
KeysPlan planKeyRemoval(const std::string& taskPath);

/// The keys' values as they are now, read through the handles that will
/// delete them, for the backup: the keys to be deleted, nothing else.
std::vector<KeySnapshot> snapshotPlannedKeys(const KeysPlan& plan);

/// What became of each key.
struct KeysRemoval {
  KeyDeletion tree, tasks;
  bool tasksKept = false;  // not tried: it belongs to another task
};
/// Deletes both keys through the plan's handles; the Tasks key only when it
/// is the task's own.
KeysRemoval removeKeys(const KeysPlan& plan);

#endif  // VORKEL_REMEDY_TASK_CACHE_H_
