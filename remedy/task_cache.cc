#include "remedy/task_cache.h"

#include <string.h>

#include "text/text.h"

const char TaskCacheBase[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

namespace {

const uint32_t IdBufferSize = 260;

// The task's identifier, or "" when the key holds no Id that fits the
// buffer whole: a cut or stale identifier would name some other task's key.
std::string readTaskId(PlatformKey* treeKey) {
  char buffer[IdBufferSize];
  memset(buffer, 0, sizeof buffer);
  uint32_t size = IdBufferSize;
  if (platformQueryValue(treeKey, "Id", buffer, &size) != ErrorSuccess) return std::string();
  size_t stored = size < IdBufferSize ? size : IdBufferSize;
  // The value is text up to its first zero byte, never past the buffer.
  size_t length = 0;
  // cppcheck-suppress knownConditionTrueFalse ; size is set by the query above
  while (length < stored && buffer[length] != '\0') ++length;
  return std::string(buffer, length);
}

// A task path as the registry tells names apart: letters in either case,
// and each name once separated (it has no empty names).
std::string comparable(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

}  // namespace

std::string registryTaskPath(const std::string& uri, const std::string& taskPath) {
  return !uri.empty() && comparable(uri) == comparable(taskPath) ? uri : taskPath;
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
    if (comparable(value.name) != "path") continue;
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
  return !owner.empty() && comparable(owner) != comparable(taskPath);
}

KeyDeletion deleteCacheKey(const std::string& subKey) { return platformDeleteKey(subKey); }
