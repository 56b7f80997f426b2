#include "remedy/task_cache.h"

namespace {

// The key to read a planned key's values through: the one held to delete
// it, or, when the system would not give that (an administrator may only
// read it), one opened to read only.
PlatformKey* readable(const KeyOpenedToRemove& opened, const std::string& subKey,
                      HeldKey* readOnly, long* found) {
  *found = opened.how.result;
  if (opened.key) return opened.key.get();
  if (opened.how.result != ErrorAccessDenied) return nullptr;
  PlatformKey* key = nullptr;
  *found = platformOpenKey(subKey, &key);
  readOnly->reset(key);
  return key;
}

KeySnapshot snapshot(const KeyOpenedToRemove& opened, const std::string& subKey) {
  KeySnapshot taken;
  taken.subKey = subKey;
  taken.readResult = opened.how.result;
  if (opened.key) taken.readResult = platformReadValues(opened.key.get(), &taken.values);
  return taken;
}

KeyDeletion deletion(const KeyOpenedToRemove& opened) {
  KeyDeletion done = opened.how;
  if (opened.key) done.result = platformDeleteOpenKey(opened.key.get());
  return done;
}

}  // namespace

std::string registryTaskPath(const std::string& uri, const std::string& taskPath) {
  return !uri.empty() && sameTaskPath(uri, taskPath) ? uri : taskPath;
}

KeysPlan planKeyRemoval(const std::string& taskPath) {
  KeysPlan plan;
  plan.treeKey = std::string(TaskCacheBase) + "\\Tree\\" + taskPath;
  plan.tree = platformOpenKeyToRemove(plan.treeKey);
  HeldKey treeReadOnly;
  PlatformKey* tree = readable(plan.tree, plan.treeKey, &treeReadOnly, &plan.treeFound);
  if (tree == nullptr) return plan;
  const std::string id = readTaskId(tree);
  if (id.empty()) return plan;
  plan.tasksKey = std::string(TaskCacheBase) + "\\Tasks\\" + id;
  plan.tasks = platformOpenKeyToRemove(plan.tasksKey);
  HeldKey tasksReadOnly;
  long tasksFound = ErrorSuccess;
  PlatformKey* tasks = readable(plan.tasks, plan.tasksKey, &tasksReadOnly, &tasksFound);
  // Text up to its first zero, however long.
  if (tasks != nullptr && readWholeValue(tasks, "Path", &plan.owner) == ErrorSuccess)
    plan.owner = plan.owner.substr(0, plan.owner.find('\0'));
  plan.ownedByAnother = !plan.owner.empty() && !sameTaskPath(plan.owner, taskPath);
  return plan;
}

std::vector<KeySnapshot> snapshotPlannedKeys(const KeysPlan& plan) {
  std::vector<KeySnapshot> keys = {snapshot(plan.tree, plan.treeKey)};
  if (!plan.ownedByAnother) keys.push_back(snapshot(plan.tasks, plan.tasksKey));
  return keys;
}

KeysRemoval removeKeys(const KeysPlan& plan) {
  KeysRemoval removal;
  removal.tree = deletion(plan.tree);
  removal.tasksKept = plan.ownedByAnother;
  if (!removal.tasksKept) removal.tasks = deletion(plan.tasks);
  return removal;
}
