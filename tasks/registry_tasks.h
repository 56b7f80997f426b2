// The scheduler's own copy of its tasks, in the registry: on Windows 8 to 11
// it runs a task from there (TaskCache\Tasks\{Id}'s Actions), not from the
// definition file, so the scan reads both stores. Nothing here follows a
// registry link or changes a key.
#ifndef VORKEL_TASKS_REGISTRY_TASKS_H_
#define VORKEL_TASKS_REGISTRY_TASKS_H_

#include <stdint.h>

#include <string>
#include <vector>

/// The scheduler's cache, below HKEY_LOCAL_MACHINE.
extern const char TaskCacheBase[];

struct PlatformKey;
/// The task's identifier in an open Tree key: its Id's text up to its first
/// zero, whatever its type; "" when it holds none, or one longer than 260
/// bytes (a string counted with the zero it is stored with).
std::string readTaskId(PlatformKey* treeKey);
/// The task path an open Tasks key says it belongs to: its Path value's
/// text up to its first zero, "" when it has none.
std::string readTaskOwner(PlatformKey* tasksKey);

/// A task path as the registry tells names apart (letters in either case,
/// each name once separated): two paths name the same task when these agree.
std::string comparableTaskPath(const std::string& path);
bool sameTaskPath(const std::string& one, const std::string& other);

/// One Tree key that holds an Id: a task, as the scheduler knows it.
struct RegistryTask {
  std::string path;     // "\folder\name": the key's path below Tree
  std::string treeKey;  // below HKEY_LOCAL_MACHINE
  std::string id;
  long tasksOpened = 0;      // opening Tasks\{Id}: the system's code
  std::string ownerPath;     // that key's Path value, "" when none
  bool hasActions = false;   // it holds an Actions value (Windows 8 and later)
  long actionsRead = 0;      // reading it: the system's code
  std::string actions;       // its bytes as stored
  std::string hiddenBecause;  // "" or why the scheduler's own list leaves it out
};

/// A key the walk could not open or list, and why.
struct UnreadKey {
  std::string key;  // below HKEY_LOCAL_MACHINE
  long error = 0;
};

struct RegistryTasks {
  std::vector<RegistryTask> tasks;  // depth first, each key before its sub-keys
  std::vector<UnreadKey> unread;
};

/// Every task below TaskCache\Tree. A Tree that is not there gives none (a
/// machine before Windows Vista, or a folder that stands in for none).
RegistryTasks readRegistryTasks();

#endif  // VORKEL_TASKS_REGISTRY_TASKS_H_
