#include "remedy/task_cache.h"

#include <string.h>

#include "console/console.h"
#include "platform/platform.h"

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
  if (platformQueryValue(treeKey, "Id", buffer, &size) != 0) return std::string();
  size_t stored = size < IdBufferSize ? size : IdBufferSize;
  // The value is text up to its first zero byte, never past the buffer.
  size_t length = 0;
  // cppcheck-suppress knownConditionTrueFalse ; size is set by the query above
  while (length < stored && buffer[length] != '\0') ++length;
  return std::string(buffer, length);
}

KeyDeletion deleteKeyAndReport(const std::string& subKey) {
  KeyDeletion deletion = platformDeleteKey(subKey);
  writeOut(MsgDeletedPrefix);
  writeOut(subKey);
  writeOut(deletion.result == 0 ? MsgOk : MsgKeyFailed);
  endLine(StdStream::Out);
  return deletion;
}

}  // namespace

CacheRemoval removeTaskCacheEntries(const TaskRecord& record) {
  CacheRemoval removal;
  removal.treeKey = std::string(TaskCacheBase) + "\\Tree\\" + record.uri;
  PlatformKey* opened = nullptr;
  removal.openResult = platformOpenKey(removal.treeKey, &opened);
  if (removal.openResult != 0) {
    writeErr(MsgOpenKeyError);
    writeNumber(StdStream::Err, static_cast<uint32_t>(removal.openResult), 16);
    writeErr(MsgRegistryAbort);
    endLine(StdStream::Err);
    return removal;
  }
  const std::string id = readTaskId(opened);
  platformCloseKey(opened);
  if (id.empty()) return removal;

  removal.tasksKey = std::string(TaskCacheBase) + "\\Tasks\\" + id;
  writeOut(MsgTreeKeyFound);
  writeOut(removal.treeKey);
  endLine(StdStream::Out);
  writeOut(MsgTasksKeyFound);
  writeOut(removal.tasksKey);
  endLine(StdStream::Out);

  setColour(ColourRed);
  writeOut(MsgAskDeleteKeys);
  setColour(ColourNormal);
  if (!askYesNo()) {
    writeOut(MsgKeysKept);
    endLine(StdStream::Out);
    return removal;
  }
  removal.confirmed = true;
  removal.tree = deleteKeyAndReport(removal.treeKey);
  removal.tasks = deleteKeyAndReport(removal.tasksKey);
  return removal;
}
