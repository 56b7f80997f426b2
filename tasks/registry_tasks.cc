#include "tasks/registry_tasks.h"

#include <string.h>

#include "platform/platform.h"

const char TaskCacheBase[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

namespace {

const uint32_t IdBufferSize = 260;
// The scheduler's Actions are a few hundred bytes; this is far past any.
const uint32_t LargestValue = 16u << 20;

}  // namespace

// The registry has no empty names: "a\\b" is a\b.
std::string comparableTaskPath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

long readWholeValue(PlatformKey* key, const char* name, std::string* bytes) {
  uint32_t capacity = 512;
  for (;;) {
    bytes->assign(capacity, '\0');
    uint32_t size = capacity;
    const long result = platformQueryValue(key, name, &(*bytes)[0], &size);
    if (result == ErrorSuccess) {
      bytes->resize(size < capacity ? size : capacity);
      bytes->shrink_to_fit();  // every task's Actions is kept for the whole scan
      return result;
    }
    bytes->clear();
    // Grown since it was measured: asked again with room for what it is now.
    if (result != ErrorMoreData || size <= capacity || size > LargestValue) return result;
    capacity = size;
  }
}

namespace {

// The Tree key holds SD (the task's access list) and Index; a task without
// the first, or with an Index of 0 or none, is left out of the scheduler's
// own list: a way the threat's kind hides its tasks.
std::string hiddenBecause(PlatformKey* treeKey) {
  std::string value;
  if (readWholeValue(treeKey, "SD", &value) == ErrorNotFound) return "no SD value";
  const long index = readWholeValue(treeKey, "Index", &value);
  if (index == ErrorNotFound) return "no Index value";
  if (index == ErrorSuccess && value.find_first_not_of('\0') == std::string::npos)
    return "Index is 0";
  return std::string();
}

void readTask(PlatformKey* tasksRoot, RegistryTask* task) {
  PlatformKey* key = nullptr;
  task->tasksOpened = tasksRoot == nullptr ? ErrorNotFound
                                           : platformOpenKeyBelow(tasksRoot, task->id, &key);
  if (task->tasksOpened != ErrorSuccess) return;
  std::string owner;
  if (readWholeValue(key, "Path", &owner) == ErrorSuccess) task->ownerPath = owner.substr(0, owner.find('\0'));
  task->actionsRead = readWholeValue(key, "Actions", &task->actions);
  task->hasActions = task->actionsRead != ErrorNotFound;
  platformCloseKey(key);
}

// Depth first below key (whose path below Tree is path), each key before
// its sub-keys, in the order the system lists them.
void walk(PlatformKey* key, const std::string& path, PlatformKey* tasksRoot,
          RegistryTasks* found) {
  const std::string treeKey = std::string(TaskCacheBase) + "\\Tree" + path;
  const std::string id = path.empty() ? std::string() : readTaskId(key);
  if (!id.empty()) {
    RegistryTask task;
    task.path = path;
    task.treeKey = treeKey;
    task.id = id;
    task.hiddenBecause = hiddenBecause(key);
    readTask(tasksRoot, &task);
    found->tasks.push_back(std::move(task));
  }
  std::vector<std::string> names;
  const long listed = platformListSubKeys(key, &names);
  if (listed != ErrorSuccess) found->unread.push_back({treeKey, listed});
  for (const std::string& name : names) {
    PlatformKey* below = nullptr;
    const long opened = platformOpenKeyBelow(key, name, &below);
    if (opened != ErrorSuccess) {
      found->unread.push_back({treeKey + "\\" + name, opened});
      continue;
    }
    walk(below, path + "\\" + name, tasksRoot, found);
    platformCloseKey(below);
  }
}

}  // namespace

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

bool sameTaskPath(const std::string& one, const std::string& other) {
  return comparableTaskPath(one) == comparableTaskPath(other);
}

RegistryTasks readRegistryTasks() {
  RegistryTasks found;
  PlatformKey* tree = nullptr;
  const std::string treeKey = std::string(TaskCacheBase) + "\\Tree";
  const long opened = platformOpenKey(treeKey, &tree);
  if (opened != ErrorSuccess) {
    if (opened != ErrorNotFound) found.unread.push_back({treeKey, opened});
    return found;
  }
  PlatformKey* tasksRoot = nullptr;
  if (platformOpenKey(std::string(TaskCacheBase) + "\\Tasks", &tasksRoot) != ErrorSuccess)
    tasksRoot = nullptr;
  walk(tree, "", tasksRoot, &found);
  platformCloseKey(tree);
  if (tasksRoot != nullptr) platformCloseKey(tasksRoot);
  return found;
}
