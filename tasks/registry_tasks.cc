#include "tasks/registry_tasks.h"

#include "platform/platform.h"

const char TaskCacheBase[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

namespace {

const size_t IdBufferSize = 260;

std::string upToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

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

namespace {

// The Tree key holds SD (the task's access list) and Index; a task without
// the first, or with an Index of 0 or none, is left out of the scheduler's
// own list: a way the threat's kind hides its tasks.
std::string hiddenBecause(PlatformKey* treeKey) {
  if (platformFindValue(treeKey, "SD") == ErrorNotFound) return "no SD value";
  const ValueRead index = platformReadValue(treeKey, "Index");
  if (index.error == ErrorNotFound) return "no Index value";
  if (index.error == ErrorSuccess && index.value.raw.find_first_not_of('\0') == std::string::npos)
    return "Index is 0";
  return std::string();
}

void readTask(PlatformKey* tasksRoot, RegistryTask* task) {
  if (tasksRoot == nullptr) {
    task->tasksOpened = ErrorNotFound;
    return;
  }
  const KeyOpening opening = platformOpenKeyBelow(tasksRoot, task->id);
  task->tasksOpened = opening.error;
  if (!opening.key) return;
  task->ownerPath = readTaskOwner(opening.key.get());
  ValueRead actions = platformReadValue(opening.key.get(), "Actions");
  task->actionsRead = actions.error;
  task->actions = std::move(actions.value.raw);
  task->actions.shrink_to_fit();  // every task's Actions is kept for the whole scan
  task->hasActions = task->actionsRead != ErrorNotFound;
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
  const SubKeys listed = platformListSubKeys(key);
  if (listed.error != ErrorSuccess) found->unread.push_back({treeKey, listed.error});
  for (const std::string& name : listed.names) {
    const KeyOpening below = platformOpenKeyBelow(key, name);
    if (!below.key) {
      found->unread.push_back({treeKey + "\\" + name, below.error});
      continue;
    }
    walk(below.key.get(), path + "\\" + name, tasksRoot, found);
  }
}

}  // namespace

std::string readTaskId(PlatformKey* treeKey) {
  const ValueRead id = platformReadValue(treeKey, "Id");
  if (id.error != ErrorSuccess) return std::string();
  // A string's text leaves out the zero it is stored with; bytes are whole.
  const size_t stored = id.value.text.size() + (isStringType(id.value.type) ? 1 : 0);
  return stored <= IdBufferSize ? upToZero(id.value.text) : std::string();
}

std::string readTaskOwner(PlatformKey* tasksKey) {
  const ValueRead path = platformReadValue(tasksKey, "Path");
  return path.error == ErrorSuccess ? upToZero(path.value.text) : std::string();
}

bool sameTaskPath(const std::string& one, const std::string& other) {
  return comparableTaskPath(one) == comparableTaskPath(other);
}

RegistryTasks readRegistryTasks() {
  RegistryTasks found;
  const std::string treeKey = std::string(TaskCacheBase) + "\\Tree";
  const KeyOpening tree = platformOpenKey(treeKey);
  if (!tree.key) {
    if (tree.error != ErrorNotFound) found.unread.push_back({treeKey, tree.error});
    return found;
  }
  const KeyOpening tasksRoot = platformOpenKey(std::string(TaskCacheBase) + "\\Tasks");
  walk(tree.key.get(), "", tasksRoot.key.get(), &found);
  return found;
}
