#include "remedy/task_cache.h"

namespace {

// The key to read a planned key's values through: the one held to delete
// it, or, when the system would not give that (an administrator may only
// read it), one opened to read only and held in readOnly. Whether it could
// be read at all is readOnly->error either way.
PlatformKey* readable(const KeyOpenedToRemove& opened, const std::string& subKey,
                      KeyOpening* readOnly) {
  readOnly->error = opened.how.result;
  if (opened.key) return opened.key.get();
  if (opened.how.result != ErrorAccessDenied) return nullptr;
  *readOnly = platformOpenKey(subKey);
  return readOnly->key.get();
}

KeySnapshot snapshot(const KeyOpenedToRemove& opened, const std::string& subKey) {
  KeySnapshot taken;
  taken.subKey = subKey;
  taken.readResult = opened.how.result;
  if (!opened.key) return taken;
  ValuesRead read = platformReadValues(opened.key.get());
  taken.readResult = read.error;
  taken.values = std::move(read.values);
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
  KeyOpening treeReadOnly;
  PlatformKey* tree = readable(plan.tree, plan.treeKey, &treeReadOnly);
  plan.treeFound = treeReadOnly.error;
  if (tree == nullptr) return plan;
  const std::string id = readTaskId(tree);
  if (id.empty()) return plan;
  plan.tasksKey = std::string(TaskCacheBase) + "\\Tasks\\" + id;
  plan.tasks = platformOpenKeyToRemove(plan.tasksKey);
  KeyOpening tasksReadOnly;
  PlatformKey* tasks = readable(plan.tasks, plan.tasksKey, &tasksReadOnly);
  if (tasks != nullptr) plan.owner = readTaskOwner(tasks);
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
