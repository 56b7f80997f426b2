#include "remedy/task_cache.h"

#include "text/text.h"

std::string registryTaskPath(const std::string& uri, const std::string& taskPath) {
  return !uri.empty() && sameTaskPath(uri, taskPath) ? uri : taskPath;
}

TaskCacheKeys findTaskCacheKeys(const std::string& taskPath) {
  TaskCacheKeys keys;
  keys.treeKey = std::string(TaskCacheBase) + "\\Tree\\" + taskPath;
  PlatformKey* opened = nullptr;
  keys.treeOpened = platformOpenKey(keys.treeKey, &opened);
  if (keys.treeOpened != ErrorSuccess) return keys;
  const std::string id = readTaskId(opened);
  platformCloseKey(opened);
  if (!id.empty()) keys.tasksKey = std::string(TaskCacheBase) + "\\Tasks\\" + id;
  return keys;
}

KeySnapshot snapshotKey(const std::string& subKey) {
  KeySnapshot snapshot;
  snapshot.subKey = subKey;
  PlatformKey* key = nullptr;
  snapshot.readResult = platformOpenKey(subKey, &key);
  if (snapshot.readResult != ErrorSuccess) return snapshot;
  snapshot.readResult = platformReadValues(key, &snapshot.values);
  platformCloseKey(key);
  return snapshot;
}

std::string tasksKeyOwner(const KeySnapshot& tasksKey) {
  for (const KeyValue& value : tasksKey.values) {
    if (!sameTaskPath(value.name, "path")) continue;
    // A string as Windows stores it, in UTF-16; natively the bytes.
    std::string path;
    if (value.type == ValueTypeString) {
      const std::u16string units = utf16FromLeBytes(value.data);
      path = utf8FromUtf16(units.data(), units.size());
    } else {
      path = value.data;
    }
    return path.substr(0, path.find('\0'));
  }
  return std::string();
}

bool belongsToAnotherTask(const KeySnapshot& tasksKey, const std::string& taskPath) {
  const std::string owner = tasksKeyOwner(tasksKey);
  return !owner.empty() && !sameTaskPath(owner, taskPath);
}

KeyDeletion deleteCacheKey(const std::string& subKey) { return platformDeleteKey(subKey); }
